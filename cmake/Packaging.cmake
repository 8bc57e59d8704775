# Manual pages, the bash completion and the Debian packages: the tool
# (component tool), the shared libraries (runtime) and the development files
# (dev):
#   cmake -S . -B build -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_SHARED_LIBS=ON
#   cmake --build build && (cd build && cpack -G DEB)

install(FILES ${PROJECT_SOURCE_DIR}/man/credcheck.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
# Where bash-completion looks for the completion of a command on first use.
install(FILES ${PROJECT_SOURCE_DIR}/completion/credcheck.bash RENAME credcheck
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tool)

# Section 3: one page per library, and for every other name on a page's
# NAME line a one-line page that sources it, so that "man gl_getline" works.
foreach(page cred lineedit)
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.3)
  install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
  file(READ ${source} text)
  string(REGEX MATCH "\n\\.SH NAME\n([^\\]*)" names "${text}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*" names "${CMAKE_MATCH_1}")
  list(REMOVE_ITEM names ${page})
  foreach(name ${names})
    set(stub ${PROJECT_BINARY_DIR}/man3/${name}.3)
    file(CONFIGURE OUTPUT ${stub} CONTENT ".so man3/${page}.3\n")
    install(FILES ${stub} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT dev)
  endforeach()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/man/cred.3 ${PROJECT_SOURCE_DIR}/man/lineedit.3)

set(CPACK_PACKAGE_NAME "credcheck")
set(CPACK_PACKAGE_VENDOR "credcheck developers")
set(CPACK_PACKAGE_CONTACT "credcheck developers <credcheck@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "check that encrypted passwords can be read and verified on this host")
# The packages install where the build was configured to install (configure
# with -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_SHARED_LIBS=ON for Debian
# packages): the tool, the runtime libraries and the development files.
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Dependencies on other packages come from dpkg-shlibdeps; those between
# the three packages (the component dependencies below) are exact versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES OFF)
set(_cred_runtime "libcredcheck${PROJECT_VERSION_MAJOR}")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME "credcheck")
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION "admin")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "check that encrypted passwords can be read and verified on this host
 credcheck reports whether this process can read a system user's encrypted
 password and whether a password authenticates against it.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "${_cred_runtime}")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION "libs")
# The libraries' own shlibs file, so that programs built against them
# depend on this package.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "cred and lineedit shared libraries
 libcred: user lookup, classification and verification of encrypted
 passwords, MD5 and the MD5-based crypt.  liblineedit: a terminal line
 editor with masked password entry, history and completion.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME "libcredcheck-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcrypt-dev, libpam0g-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "cred and lineedit development files
 Headers, static libraries, the CMake package cred, the pkg-config modules
 cred and lineedit, and the section 3 manual pages.")

# The tool needs the runtime package; dpkg-shlibdeps finds that through the
# libraries in the tree being packaged.
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}")
include(CPack)
