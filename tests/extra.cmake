# tests_cli: end-to-end tests of the command-line host, run against the built binary.
if(TESSIL_BUILD_CLI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TESTS_CLI_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  file(GLOB tests_cli_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cli/*.cpp)
  pkg_check_modules(TESTS_CLI_EBUR128 REQUIRED IMPORTED_TARGET libebur128)
  # The report's meter is tested in-process against libebur128 itself.
  add_executable(tests_cli ${tests_cli_sources} ${CMAKE_SOURCE_DIR}/cli/loudness.cpp
                 ${CMAKE_SOURCE_DIR}/cli/true_peak.cpp)
  # util: forkpty, for running the binary on a pseudo-terminal.
  target_link_libraries(tests_cli PRIVATE PkgConfig::TESTS_CLI_SNDFILE PkgConfig::TESTS_CLI_EBUR128
                        GTest::gtest GTest::gtest_main pthread util)
  target_include_directories(tests_cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR})
  # tessil_cli is defined after this folder is read; the generator expression resolves it later.
  target_compile_definitions(tests_cli PRIVATE TESSIL_CLI_PATH="$<TARGET_FILE:tessil_cli>"
    TESSIL_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
  add_dependencies(tests_cli tessil_cli)
  gtest_discover_tests(tests_cli TEST_PREFIX "cli." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 900)
endif()
