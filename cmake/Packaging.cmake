# Manual pages and the Debian package of the tool, the libraries, the
# headers, the CMake package and the pkg-config file:
#   cmake --build build && (cd build && cpack -G DEB)

install(FILES ${PROJECT_SOURCE_DIR}/man/credcheck.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/man/lineedit.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)

set(CPACK_PACKAGE_NAME "credcheck")
set(CPACK_PACKAGE_VENDOR "credcheck developers")
set(CPACK_PACKAGE_CONTACT "credcheck developers <credcheck@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "check that encrypted passwords can be read and verified on this host")
set(CPACK_PACKAGE_DESCRIPTION
    "credcheck reports whether this process can read a system user's encrypted password \
and whether a password authenticates against it. The package also holds the static \
libraries cred (user lookup, password classification and verification, MD5 and the \
MD5-based crypt) and lineedit (a terminal line editor), their headers, a CMake package, \
a pkg-config file and the manual pages.")
# The package installs where the build was configured to install (configure
# with -DCMAKE_INSTALL_PREFIX=/usr for a Debian package), so that the paths
# in the pkg-config file and the CMake package agree with the package.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The tool needs libc and libcrypt; programs that link the static libraries
# need libcrypt's development files.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libcrypt1")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libcrypt-dev, pkg-config")
set(CPACK_STRIP_FILES OFF)
include(CPack)
