# Command messages to DispatchCommand over the scripted engine library.
pv7_fuzz(command_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_fuzz.cpp LIBS pv7_hostform)
target_compile_definitions(command_fuzz PRIVATE
  SCRIPTED_ENGINE_LIBRARY="${PV7_TEST_DIR}/scripted/libcef.so")
if(TARGET scripted_cef)
  add_dependencies(command_fuzz scripted_cef)
endif()
