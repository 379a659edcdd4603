pv7_fuzz(codepage_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/codepage_fuzz.cpp LIBS pv7_platform)
