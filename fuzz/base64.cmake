pv7_fuzz(base64_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/base64_fuzz.cpp LIBS pv7_base)
