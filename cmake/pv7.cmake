# Shared build settings: warnings for the project's own code, sanitizers, test helper.

if(PV7_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(PV7_SANITIZE STREQUAL "thread")
  # ThreadSanitizer (g++ 12 or clang) needs position-independent programs: every
  # object is built with -fPIC/-fPIE already (CMAKE_POSITION_INDEPENDENT_CODE) and
  # programs are linked with -pie. The host, the engine library and the scripted
  # engine are all instrumented, so races between their threads are seen.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -pie")
elseif(NOT PV7_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PV7_SANITIZE must be empty, address or thread")
endif()

# pv7_warnings(target): the project's own code builds with every warning on; they
# are errors only with PV7_WERROR (the test script's builds), never in a user's build.
function(pv7_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(PV7_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# pv7_gtest(name PREFIX prefix SOURCES ... LIBS ... [WORKDIR dir] [OUTDIR dir])
# A GoogleTest program in build/tests (or OUTDIR); its tests are registered with CTest
# as PREFIX.Suite.Test so that `ctest -R PREFIX` runs one subsystem.
function(pv7_gtest name)
  cmake_parse_arguments(T "" "PREFIX;WORKDIR;OUTDIR;TIMEOUT" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  pv7_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(NOT T_OUTDIR)
    set(T_OUTDIR ${PV7_TEST_DIR})
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${T_OUTDIR})
  if(NOT T_WORKDIR)
    set(T_WORKDIR ${CMAKE_BINARY_DIR})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  gtest_discover_tests(${name} TEST_PREFIX "${T_PREFIX}." WORKING_DIRECTORY ${T_WORKDIR}
                       DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
endfunction()

# A fuzz build instruments all code for coverage and runs it under ASan+UBSan.
if(PV7_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
