pv7_fuzz(xml_binary_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_binary_fuzz.cpp LIBS pv7_xml)
