orvane_fuzzer(tool_number SOURCES tool_number.cpp LIBS tools_common)
