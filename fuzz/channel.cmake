pv7_fuzz(channel_read_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/channel_read_fuzz.cpp LIBS pv7_host)
