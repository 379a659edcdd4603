pv7_fuzz(bridge_message_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/bridge_message_fuzz.cpp LIBS pv7_cefcore)
