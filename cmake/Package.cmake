# The Debian package: `cpack -G DEB` in the build directory (scripts/package does it all). It
# holds what the install rules lay out, under /usr, stripped; its Depends are worked out by
# dpkg-shlibdeps from the shared libraries the programs and the bitmap library link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZMC_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tarnwell")
set(CPACK_PACKAGE_CONTACT "Tarnwell Zorbane tools <zorbane-compare@tarnwell.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Records Zorbane schema versions and compares them")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CPACK_PACKAGING_INSTALL_PREFIX}/${ZMC_INSTALL_PRIVATE_LIB})
# The reports are laid out for these fonts' metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
# The summary above is the synopsis line; this is the extended description under it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Zorbane Model Compare Utility - Tarnwell reads the schema of a Zorbane object
database, one class family at a time, into a local dBASE table, compares two
recorded versions row by row and prints reports over the result.
.
The menu entry starts the program in ~/.local/share/zorbane-compare, made from
the demo in /usr/share/zorbane-compare/demo on first use.")
include(CPack)
