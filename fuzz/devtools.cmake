pv7_fuzz(devtools_message_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/devtools_message_fuzz.cpp LIBS pv7_cefcore)
