# Where everything goes, laid out as Debian lays out such software, so that every host finds it
# without environment variables:
#   bin/tessil                          the command-line host
#   lib/<triplet>/tessil-driver/        the driver module it loads, a private library
#   lib/<triplet>/ladspa/tessil.so      the LADSPA plugin, where sox looks (its compiled-in path)
#   lib/ladspa/tessil.so                a link to it, where PipeWire and most LADSPA hosts look
#   lib/lv2/tessil.lv2/                 the LV2 bundle, on lilv's default path
#   share/tessil/                       presets and the PipeWire example
#   share/man/man1/tessil.1.gz          the manual page, written from the program's own help
#   share/bash-completion/completions/  completion of commands, options, property names, files
#   share/doc/tessil/                   copyright and changelog
# Nothing named like a plugin (tessil, tessil.so) may sit directly in a folder the dynamic loader
# searches (lib, lib/<triplet>): hosts that dlopen() a bare plugin name would find it there
# instead of the plugin, and a folder makes them fail with "Is a directory". Hence the module's
# folder is named for what it holds. `cpack -G DEB` packages the lot under /usr.
include(GNUInstallDirs)
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(TESSIL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(TESSIL_LIBDIR lib)
endif()
set(TESSIL_MODULE_DIR ${TESSIL_LIBDIR}/tessil-driver)
set(TESSIL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

install(TARGETS tessil LIBRARY DESTINATION ${TESSIL_MODULE_DIR})
if(TARGET tessil_cli)
  set_target_properties(tessil_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${TESSIL_MODULE_DIR}")
  install(TARGETS tessil_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS tessil_ladspa LIBRARY DESTINATION ${TESSIL_LIBDIR}/ladspa)
if(NOT TESSIL_LIBDIR STREQUAL lib)
  install(CODE "
    set(ladspa \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/ladspa\")
    file(MAKE_DIRECTORY \"\${ladspa}\")
    file(CREATE_LINK ../${CMAKE_LIBRARY_ARCHITECTURE}/ladspa/$<TARGET_FILE_NAME:tessil_ladspa>
         \"\${ladspa}/$<TARGET_FILE_NAME:tessil_ladspa>\" SYMBOLIC)")
endif()
install(TARGETS tessil_lv2 LIBRARY DESTINATION lib/lv2/tessil.lv2)
install(DIRECTORY ${TESSIL_LV2_BUNDLE}/ DESTINATION lib/lv2/tessil.lv2
  FILES_MATCHING PATTERN "*.ttl")
install(FILES ${TESSIL_PRESETS} DESTINATION ${CMAKE_INSTALL_DATADIR}/tessil/presets)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/pipewire/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessil/pipewire)

# Documentation as Debian ships it: compressed with no time stamp, so builds are reproducible.
find_program(TESSIL_GZIP gzip REQUIRED)
set(TESSIL_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
add_custom_command(OUTPUT ${TESSIL_DOC_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSIL_DOC_DIR}
  COMMAND ${TESSIL_GZIP} -9n < ${TESSIL_PACKAGING_DIR}/changelog > ${TESSIL_DOC_DIR}/changelog.gz
  DEPENDS ${TESSIL_PACKAGING_DIR}/changelog)
set(TESSIL_DOC_FILES ${TESSIL_DOC_DIR}/changelog.gz)
if(TARGET tessil_cli)
  find_program(TESSIL_HELP2MAN help2man)
  if(TESSIL_HELP2MAN)
    add_custom_command(OUTPUT ${TESSIL_DOC_DIR}/tessil.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TESSIL_DOC_DIR}
      COMMAND bash ${TESSIL_PACKAGING_DIR}/man-page.sh $<TARGET_FILE:tessil_cli> ${TESSIL_DOC_DIR}/tessil.1
      COMMAND ${TESSIL_GZIP} -9nf ${TESSIL_DOC_DIR}/tessil.1
      DEPENDS tessil_cli ${TESSIL_PACKAGING_DIR}/man-page.sh
      COMMENT "Writing the manual page tessil(1) from the program's help")
    list(APPEND TESSIL_DOC_FILES ${TESSIL_DOC_DIR}/tessil.1.gz)
    install(FILES ${TESSIL_DOC_DIR}/tessil.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "help2man not found: no manual page (scripts/setup.sh installs it)")
  endif()
  install(FILES ${TESSIL_PACKAGING_DIR}/bash-completion/tessil
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()
add_custom_target(tessil_doc ALL DEPENDS ${TESSIL_DOC_FILES})
install(FILES ${TESSIL_PACKAGING_DIR}/copyright ${TESSIL_DOC_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessil)
install(FILES ${TESSIL_PACKAGING_DIR}/lintian-overrides RENAME tessil
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

set(TESSIL_MAINTAINER "Tessil maintainers <maintainers@tessil.example>" CACHE STRING
  "Maintainer named in the Debian package (and expected in packaging/changelog)")
set(CPACK_PACKAGE_NAME tessil)
set(CPACK_PACKAGE_VENDOR "Tessil")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TESSIL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies as dpkg-shlibdeps finds them in the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PROVIDES "ladspa-plugin, lv2-plugin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sox, ladspa-sdk, lilv-utils, pipewire")
# The first line is the summary; CPack indents the rest and marks the empty line for dpkg.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "loudness maximiser: command-line renderer, LADSPA and LV2 plugins
Tessil levels music and speech to an even loudness: an input gain,
Butterworth high- and low-pass filters, a 16-band loudness estimate driving
a slow gain with a 22-sample look-ahead limiter on linked channels, a
four-band equaliser, a soft-clip output stage and an output gain.

The package holds the command-line host tessil, which renders and measures
audio files (integrated loudness, loudness range, true peak; a loudness
target in LUFS and a true-peak ceiling), the same effect as a stereo LADSPA
plugin for sox, PipeWire and other LADSPA hosts and as an LV2 plugin with
presets, and the driver module they are built from.")
include(CPack)
