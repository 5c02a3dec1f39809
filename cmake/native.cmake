# Native (Linux) build: the portable rules and their tests.
find_package(GTest REQUIRED)
include(GoogleTest)

file(GLOB_RECURSE qyr_portable_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
list(FILTER qyr_portable_tests EXCLUDE REGEX "/tests/(win|e2e|qyrsend)/")
add_executable(qyr_tests ${qyr_portable_tests})
target_link_libraries(qyr_tests PRIVATE qyr_core GTest::gtest GTest::gtest_main)
gtest_discover_tests(qyr_tests DISCOVERY_TIMEOUT 60)

if(QYR_FUZZ)
  # The portable rules are compiled once, instrumented, for every target; each adds its entry.
  add_library(qyr_fuzz_core STATIC ${qyr_portable_sources})
  target_include_directories(qyr_fuzz_core PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(qyr_fuzz_core PUBLIC -fsanitize=fuzzer-no-link,address,undefined)
  file(GLOB qyr_fuzzers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*_fuzz.cpp)
  foreach(src ${qyr_fuzzers})
    get_filename_component(stem ${src} NAME_WE)
    add_executable(${stem} ${src})
    target_link_libraries(${stem} PRIVATE qyr_fuzz_core)
    target_compile_options(${stem} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${stem} PRIVATE -fsanitize=fuzzer,address,undefined)
  endforeach()
endif()
