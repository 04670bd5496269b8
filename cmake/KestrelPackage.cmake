# The Debian package: `cpack -G DEB` in a build folder makes kestrel_<version>_amd64.deb with
# the programs, desktop file, icon, udev rule, manual pages and completion. Dependencies on
# shared libraries are computed by dpkg-shlibdeps; what Qt loads at run time as plugins
# (the SVG icon) is named by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrel developers <kestrel@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-nanum")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write firmware images into mobile handsets over serial lines")
# CPack puts the summary first and indents the lines below it; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Kestrel writes a firmware image into a mobile handset through the USB
cable that shows up as a serial port. It comes as a window (kestrel), a
command-line front end for factory lines and scripts that flashes many
handsets at once (kestrel-cli), and a handset simulator
(kestrel-handset-sim).

A udev rule gives the logged-in user access to handset ports and keeps
ModemManager from probing them.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(debian ${CMAKE_BINARY_DIR}/debian)
foreach(SCRIPT postinst postrm)
  configure_file(${PROJECT_SOURCE_DIR}/res/debian/maintscript.in ${debian}/${SCRIPT} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${debian}/postinst ${debian}/postrm)

# Debian wants a copyright file and a compressed changelog in the package's doc folder.
string(TIMESTAMP KESTREL_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/res/debian/changelog.in ${debian}/changelog @ONLY)
add_custom_command(OUTPUT ${debian}/changelog.gz
  COMMAND gzip -9n -c ${debian}/changelog > ${debian}/changelog.gz
  DEPENDS ${debian}/changelog
  VERBATIM)
add_custom_target(kestrel_changelog ALL DEPENDS ${debian}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/res/debian/copyright ${debian}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrel)

include(CPack)
