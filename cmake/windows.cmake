# Windows build (MinGW-w64): the program, the same portable tests, and the tests that need the
# real Win32 API, all run under Wine through cmake/wine-run.sh.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(QYR_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh --root ${QYR_WINE_ROOT})
  set(QYR_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh --root ${QYR_WINE_ROOT})
endif()

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_link_options(-static -static-libgcc -static-libstdc++)

set(QYR_WIN_LIBS ws2_32 comctl32 comdlg32 shell32 ole32 gdi32 user32 advapi32 version netapi32 bcrypt)

# The folders' libraries hold their Win32 sides too (cmake/layers.cmake); this is all of it.
add_library(qyr_win INTERFACE)
target_link_libraries(qyr_win INTERFACE qyr_core ${QYR_WIN_LIBS})

file(GLOB qyr_rc CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/res/*.rc)
add_executable(QyrDelay WIN32 ${CMAKE_SOURCE_DIR}/src/app/main_win.cpp ${qyr_rc})
target_link_libraries(QyrDelay PRIVATE qyr_win)
target_link_options(QyrDelay PRIVATE -municode)
# The version block comes from the project version; windres finds the icon and manifest by path.
configure_file(${CMAKE_SOURCE_DIR}/src/res/version.h.in ${CMAKE_BINARY_DIR}/res/qyr_version.h)
target_include_directories(QyrDelay PRIVATE ${CMAKE_BINARY_DIR}/res ${CMAKE_SOURCE_DIR}/src/res)
file(GLOB qyr_rc_inputs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/res/*.ico
  ${CMAKE_SOURCE_DIR}/src/res/*.manifest)
set_source_files_properties(${qyr_rc} PROPERTIES OBJECT_DEPENDS
  "${qyr_rc_inputs};${CMAKE_BINARY_DIR}/res/qyr_version.h")

# GoogleTest from Debian's sources, built with the same toolchain.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(EXISTS /usr/src/googletest/googletest)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -Wno-error)
  target_compile_options(gtest_main PRIVATE -Wno-error)
else()
  # Building on Windows itself: GoogleTest from the toolchain's packages.
  find_package(GTest REQUIRED)
  add_library(gtest ALIAS GTest::gtest)
  add_library(gtest_main ALIAS GTest::gtest_main)
endif()
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # Wine is set up once before the tests and stopped after them.
  add_test(NAME wine_start COMMAND ${QYR_WINE_RUN} --start)
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME wine_stop COMMAND ${QYR_WINE_RUN} --stop)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
  # A forced power action ends every process of its Wine prefix: the power tests get their own.
  # It is set up before any test runs, like the main one: a prefix being created while tests
  # run has been seen to leave a finished test process hanging.
  add_test(NAME wine_start_power COMMAND ${QYR_WINE_RUN} --prefix power --start)
  set_tests_properties(wine_start_power PROPERTIES FIXTURES_SETUP "wine;wine_power" TIMEOUT 300)
  # The settings script starts its Wine server inside a mount namespace of its own (a full disk).
  add_test(NAME wine_start_settings COMMAND ${QYR_WINE_RUN} --prefix settings --start)
  set_tests_properties(wine_start_settings PROPERTIES FIXTURES_SETUP "wine;wine_settings" TIMEOUT 300)
endif()

file(GLOB_RECURSE qyr_portable_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
list(FILTER qyr_portable_tests EXCLUDE REGEX "/tests/(win|e2e|fuzz|qyrsend)/")
add_executable(qyr_tests ${qyr_portable_tests})
target_link_libraries(qyr_tests PRIVATE qyr_core gtest gtest_main)

file(GLOB qyr_win_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
add_executable(qyr_win_tests ${qyr_win_tests} ${CMAKE_SOURCE_DIR}/tests/win/test_support_win.cpp
  ${CMAKE_SOURCE_DIR}/tests/win/test_main_win.cpp)
target_include_directories(qyr_win_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
target_link_libraries(qyr_win_tests PRIVATE qyr_win gtest)

file(GLOB qyr_e2e_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*_test.cpp)
add_executable(qyr_e2e_tests ${qyr_e2e_tests} ${CMAKE_SOURCE_DIR}/tests/win/test_support_win.cpp
  ${CMAKE_SOURCE_DIR}/tests/win/test_main_win.cpp
  ${CMAKE_SOURCE_DIR}/tests/win/e2e_support_win.cpp)
target_include_directories(qyr_e2e_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/win ${CMAKE_BINARY_DIR}/res)
target_link_libraries(qyr_e2e_tests PRIVATE qyr_win gtest)
add_dependencies(qyr_e2e_tests QyrDelay)

# Small Windows programs that the tests start (one .cpp each).
file(GLOB qyr_test_helpers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/helpers/*.cpp)
foreach(src ${qyr_test_helpers})
  get_filename_component(stem ${src} NAME_WE)
  add_executable(${stem} WIN32 ${src})
  target_link_libraries(${stem} PRIVATE ${QYR_WIN_LIBS})
  target_link_options(${stem} PRIVATE -municode)
  target_include_directories(${stem} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  add_dependencies(qyr_win_tests ${stem})
  add_dependencies(qyr_e2e_tests ${stem})
endforeach()

# A short limit per test: a hang costs a minute, and the Wine runner shows what the test
# printed up to then.
gtest_discover_tests(qyr_tests
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 60)
gtest_discover_tests(qyr_win_tests TEST_FILTER -Registry*
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 60)
# The Registry* suites change the Run value and the player's key that every program run of the
# end-to-end tests touches too: they take the same lock.
gtest_discover_tests(qyr_win_tests TEST_FILTER Registry*
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 60 RESOURCE_LOCK port26908)
# The built program holds a machine-wide mutex and port 26908: one at a time. These one-at-a-time
# tests are the longest chain of the run, so a COST puts them first, beside the others, even
# before ctest has timings of its own.
gtest_discover_tests(qyr_e2e_tests TEST_PREFIX e2e.
  DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
  PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 180 RESOURCE_LOCK port26908 COST 20)

# Tests driven from Linux (bash), talking to the program under Wine.
set(qyr_shell_tests "")
if(CMAKE_CROSSCOMPILING)
  file(GLOB qyr_shell_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/*_test.sh)
endif()
# A script with a Wine prefix of its own (QYR_WINE_PREFIX set in it) runs in a network namespace
# of its own where the system allows one: the program's fixed port is then its own, and the
# script runs beside the others instead of waiting for the port.
execute_process(COMMAND unshare -n ip link set lo up RESULT_VARIABLE qyr_netns_status
  OUTPUT_QUIET ERROR_QUIET)
foreach(script ${qyr_shell_tests})
  get_filename_component(stem ${script} NAME_WE)
  file(STRINGS ${script} own_prefix REGEX "^export QYR_WINE_PREFIX=")
  if(own_prefix AND qyr_netns_status EQUAL 0)
    add_test(NAME e2e.${stem}
      COMMAND unshare -n -- bash -c "ip link set lo up && exec bash \"$0\"" ${script})
    set_tests_properties(e2e.${stem} PROPERTIES COST 90)
  else()
    add_test(NAME e2e.${stem} COMMAND bash ${script})
    set_tests_properties(e2e.${stem} PROPERTIES RESOURCE_LOCK port26908 COST 40)
  endif()
  set_tests_properties(e2e.${stem} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300
    ENVIRONMENT "QYR_BUILD_DIR=${CMAKE_BINARY_DIR};QYR_WINE_RUN=${CMAKE_SOURCE_DIR}/cmake/wine-run.sh;QYR_WINE_ROOT=${QYR_WINE_ROOT}")
endforeach()
if(TEST e2e.power_test)
  set_tests_properties(e2e.power_test PROPERTIES FIXTURES_REQUIRED "wine;wine_power")
endif()
if(TEST e2e.settings_test)
  set_tests_properties(e2e.settings_test PROPERTIES FIXTURES_REQUIRED "wine;wine_settings")
endif()
