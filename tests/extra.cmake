# tests_cli: end-to-end tests of the command-line host, run against the built binary.
if(TESSIL_BUILD_CLI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TESTS_CLI_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
  pkg_check_modules(TESTS_CLI_PICTURES REQUIRED IMPORTED_TARGET cairo libxml-2.0)
  file(GLOB tests_cli_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/cli/*.cpp)
  # The report's meter is tested in-process against libebur128 itself, the pictures read back with
  # cairo (PNG) and libxml2 (SVG). util: forkpty, for running the binary on a pseudo-terminal.
  tessil_test_program(tests_cli SOURCES ${tests_cli_sources} ${CMAKE_SOURCE_DIR}/cli/loudness.cpp
    ${CMAKE_SOURCE_DIR}/cli/stored_length.cpp
    LIBRARIES tessil_host PkgConfig::TESTS_CLI_SNDFILE tessil_ebur128_reference PkgConfig::TESTS_CLI_PICTURES util PREFIX "cli.")
  if(TARGET tests_cli)
    target_include_directories(tests_cli PRIVATE ${CMAKE_SOURCE_DIR})
    # tessil_cli is defined after this folder is read; the generator expression resolves it later.
    target_compile_definitions(tests_cli PRIVATE TESSIL_CLI_PATH="$<TARGET_FILE:tessil_cli>")
    add_dependencies(tests_cli tessil_cli)
  endif()
endif()
