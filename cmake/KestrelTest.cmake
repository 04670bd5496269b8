# kestrel_test(NAME source... [LIBS lib...] [TIMEOUT seconds]): one GoogleTest executable,
# registered with CTest.
# Tests never see the user's own settings or journal: both are moved into the build tree.
# Every test case gets a CTest TIMEOUT, so a hang fails within minutes rather than at the
# CI job's limit. KESTREL_TEST_TIMEOUT is the default for all of them (sanitizer builds run
# several times slower, hence the margin); a test program whose cases need longer passes its
# own TIMEOUT.
find_package(GTest)
include(GoogleTest)

set(KESTREL_TEST_TIMEOUT 300 CACHE STRING "Seconds one test case may run before CTest fails it")

function(kestrel_test name)
  cmake_parse_arguments(KT "" "TIMEOUT" "LIBS" ${ARGN})
  if(NOT DEFINED KT_TIMEOUT)
    set(KT_TIMEOUT ${KESTREL_TEST_TIMEOUT})
  endif()
  if(NOT KT_TIMEOUT MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "kestrel_test(${name}): the timeout is a whole number of seconds, not '${KT_TIMEOUT}'")
  endif()
  # The settings and the journal are moved by the program itself: on its way to the discovered
  # tests the PROPERTIES list is split at every semicolon, so a property can carry one
  # variable only, escaped or not.
  add_executable(${name} ${KT_UNPARSED_ARGUMENTS} ${PROJECT_SOURCE_DIR}/tests/support/test_home.cpp)
  target_compile_definitions(${name} PRIVATE KESTREL_TEST_CONFIG_HOME="${CMAKE_BINARY_DIR}/test-config"
                                             KESTREL_TEST_DATA_HOME="${CMAKE_BINARY_DIR}/test-data")
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${KT_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${KT_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# A program that takes screenshots of docs/ under an X server: not a test, so built only with
# KESTREL_BUILD_SCREENSHOTS.
function(kestrel_screenshot_program name source)
  if(NOT KESTREL_BUILD_SCREENSHOTS)
    return()
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main kestrel_window Qt6::Test)
  target_compile_definitions(${name} PRIVATE
    KESTREL_SIM_BIN="$<TARGET_FILE:kestrel-handset-sim>" KESTREL_CLI_BIN="$<TARGET_FILE:kestrel-cli>")
  add_dependencies(${name} kestrel-handset-sim)
endfunction()
