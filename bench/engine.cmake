# The engine library against a plain DevTools client of the same Chromium.
pkg_check_modules(PV7_BENCH_DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
add_executable(engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/cefengine/http_server.cpp)
target_include_directories(engine_bench PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests/cefengine)
target_compile_options(engine_bench PRIVATE -O2)
target_link_libraries(engine_bench PRIVATE pv7_cefcore PkgConfig::PV7_BENCH_DEFLATE Threads::Threads)
pv7_warnings(engine_bench)
