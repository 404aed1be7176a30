orvane_fuzzer(tsyncemu_args SOURCES tsyncemu_args.cpp LIBS tsyncemu_board)
