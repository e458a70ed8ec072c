# Where everything goes, laid out as the field's software is: the command-line host in bin/ with
# the driver module it loads in lib/tessil/, the LADSPA plugin in lib/ladspa/, the LV2 bundle in
# lib/lv2/, presets and the PipeWire example under share/tessil/. cpack -G DEB packages the lot.
include(GNUInstallDirs)
set(TESSIL_LIBDIR lib)  # the plugin folders hosts search are lib/ladspa and lib/lv2

install(TARGETS tessil LIBRARY DESTINATION ${TESSIL_LIBDIR}/tessil)
if(TARGET tessil_cli)
  set_target_properties(tessil_cli PROPERTIES INSTALL_RPATH "$ORIGIN/../${TESSIL_LIBDIR}/tessil")
  install(TARGETS tessil_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS tessil_ladspa LIBRARY DESTINATION ${TESSIL_LIBDIR}/ladspa)
install(TARGETS tessil_lv2 LIBRARY DESTINATION ${TESSIL_LIBDIR}/lv2/tessil.lv2)
install(DIRECTORY ${TESSIL_LV2_BUNDLE}/ DESTINATION ${TESSIL_LIBDIR}/lv2/tessil.lv2
  FILES_MATCHING PATTERN "*.ttl")
install(FILES ${TESSIL_PRESETS} DESTINATION ${CMAKE_INSTALL_DATADIR}/tessil/presets)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/pipewire/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tessil/pipewire)

set(CPACK_PACKAGE_NAME tessil)
set(CPACK_PACKAGE_VENDOR "Tessil")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loudness maximiser: command-line renderer, LADSPA and LV2 plugins")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tessil developers <tessil@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libsndfile1, libebur128-1, libsoxr0")
include(CPack)
