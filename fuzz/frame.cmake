pv7_fuzz(frame_decode_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/frame_decode_fuzz.cpp LIBS pv7_cefcore)
