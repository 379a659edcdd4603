add_executable(frames_bench ${CMAKE_CURRENT_LIST_DIR}/frames_bench.cpp
)
target_include_directories(frames_bench PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(frames_bench PRIVATE -O2)
target_link_libraries(frames_bench PRIVATE pv7_host benchmark::benchmark Threads::Threads)
pv7_warnings(frames_bench)
