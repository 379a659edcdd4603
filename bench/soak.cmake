# soak: pv7host on real Chromium under a long random load (5 minutes by default,
# --seconds N); a short run is part of the tests and fails only on a crash or hang.
add_executable(soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp)
target_include_directories(soak PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(soak PRIVATE pv7_host Threads::Threads)
pv7_warnings(soak)
add_dependencies(soak pv7host cef)
if(PV7_TESTS)
  add_test(NAME soak.short COMMAND soak --seconds 20 --warmup 5)
  set_tests_properties(soak.short PROPERTIES TIMEOUT 180)
endif()
