# Frame publishing: its cost, and the end-to-end figures through pv7host against a
# plain DevTools client of the same Chromium.
add_executable(frames_bench ${CMAKE_CURRENT_LIST_DIR}/frames_bench.cpp)
target_include_directories(frames_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(frames_bench PRIVATE -O2)
target_link_libraries(frames_bench PRIVATE pv7_host pv7_cefcore benchmark::benchmark Threads::Threads)
add_dependencies(frames_bench pv7host cef)
pv7_warnings(frames_bench)
