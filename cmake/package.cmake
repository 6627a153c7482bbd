# The Debian package (scripts/package): where `cmake --install` puts things,
# and CPack's DEB generator. The executable goes to /usr/games and finds its
# data in /usr/share/games/contrail (see platform/data_folder.h).
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(debian ${PROJECT_SOURCE_DIR}/cmake/debian)
set(staged ${PROJECT_BINARY_DIR}/debian)
set(CONTRAIL_VERSION ${PROJECT_VERSION})

# Debian wants the man page and the changelog compressed, without time stamps.
file(MAKE_DIRECTORY ${staged})
configure_file(${debian}/contrail.6 ${staged}/contrail.6 @ONLY)
configure_file(${debian}/changelog ${staged}/changelog @ONLY)
foreach(name contrail.6 changelog)
  execute_process(COMMAND gzip -9nf ${staged}/${name})
endforeach()

install(TARGETS contrail RUNTIME DESTINATION games)
install(DIRECTORY ${PROJECT_BINARY_DIR}/data/ DESTINATION share/games/contrail
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The desktop entry and the software centres' listing share one id.
set(CONTRAIL_APP_ID example.contrail.Contrail)
install(FILES ${debian}/${CONTRAIL_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${debian}/${CONTRAIL_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${PROJECT_BINARY_DIR}/icon/contrail.png DESTINATION share/icons/hicolor/64x64/apps)
install(FILES ${staged}/contrail.6.gz DESTINATION share/man/man6)
install(FILES ${debian}/copyright ${staged}/changelog.gz DESTINATION share/doc/contrail)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME contrail)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "contrail developers <contrail@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "short real-time 3D demo with its own soundtrack")
set(CPACK_PACKAGE_DESCRIPTION "contrail takes over a 640 x 480 screen and plays a fixed 52-second show
whose only clock is its music: a title card, a textured, lit spaceship
flying a curved path with a glowing trail, a second spinning flight and an
end card. Escape quits; F1 switches between full-screen and a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
