pv7_fuzz(xml_text_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/xml_text_fuzz.cpp LIBS pv7_xml)
