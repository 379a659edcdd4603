# CallPV7XML round trips against bare synchronous requests the engine library
# answers itself, in the same Chromium and the same run.
add_executable(bridge_bench ${CMAKE_CURRENT_LIST_DIR}/bridge_bench.cpp)
target_compile_options(bridge_bench PRIVATE -O2)
target_link_libraries(bridge_bench PRIVATE pv7_osr pv7_host Threads::Threads)
target_compile_definitions(bridge_bench PRIVATE PV7_ENGINE_LIBRARY="$<TARGET_FILE:cef>")
add_dependencies(bridge_bench cef)
pv7_warnings(bridge_bench)
