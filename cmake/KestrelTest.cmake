# kestrel_test(NAME source... [LIBS lib...]): one GoogleTest executable, registered with CTest.
# Tests never see the user's own settings: the store is moved into the build tree.
find_package(GTest)
include(GoogleTest)

function(kestrel_test name)
  cmake_parse_arguments(KT "" "" "LIBS" ${ARGN})
  add_executable(${name} ${KT_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main ${KT_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config")
endfunction()
