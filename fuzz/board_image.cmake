orvane_fuzzer(board_image SOURCES board_image.cpp LIBS tsyncemu_board)
