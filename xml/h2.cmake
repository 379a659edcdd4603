# The binary form and the typed accessors of the XML library.
target_sources(pv7_xml PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/xmlBinary.cpp
                               ${CMAKE_CURRENT_SOURCE_DIR}/xmlAccessors.cpp)
set(PV7_XML_HAS_BINARY ON)
