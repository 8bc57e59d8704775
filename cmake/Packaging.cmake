# Manual pages, the bash completion and the Debian packages: the tool
# (component tool), one package per shared library (libcred, liblineedit)
# and the development files (dev):
#   cmake -S . -B build-deb -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_SHARED_LIBS=ON
#   cmake --build build-deb -j2 && (cd build-deb && cpack -G DEB)

# Manual pages are installed compressed (gzip -9n), as Debian ships them and
# man reads them.
function(cred_install_gzipped source name destination component)
  set(gz ${PROJECT_BINARY_DIR}/gz/${destination}/${name}.gz)
  get_filename_component(dir ${gz} DIRECTORY)
  file(MAKE_DIRECTORY ${dir})
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${gz} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${source} failed")
  endif()
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${gz} DESTINATION ${destination} COMPONENT ${component} ${ARGN})
endfunction()

cred_install_gzipped(${PROJECT_SOURCE_DIR}/man/credcheck.1 credcheck.1 ${CMAKE_INSTALL_MANDIR}/man1 tool)

# Section 3: one page per library, and for every other name on a page's
# NAME line a one-line page that sources it, so that "man gl_getline" works.
foreach(page cred lineedit)
  set(source ${PROJECT_SOURCE_DIR}/man/${page}.3)
  cred_install_gzipped(${source} ${page}.3 ${CMAKE_INSTALL_MANDIR}/man3 dev)
  file(READ ${source} text)
  string(REGEX MATCH "\n\\.SH NAME\n([^\\]*)" names "${text}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z_0-9]*" names "${CMAKE_MATCH_1}")
  list(REMOVE_ITEM names ${page})
  foreach(name ${names})
    set(stub ${PROJECT_BINARY_DIR}/man3/${name}.3)
    file(CONFIGURE OUTPUT ${stub} CONTENT ".so man3/${page}.3\n")
    cred_install_gzipped(${stub} ${name}.3 ${CMAKE_INSTALL_MANDIR}/man3 dev)
  endforeach()
endforeach()

# The completion goes where bash-completion loads completions from on first
# use: its completionsdir, taken under this install's prefix.
set(_cred_completions ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
find_program(PKG_CONFIG_EXECUTABLE pkg-config)
if(PKG_CONFIG_EXECUTABLE)
  execute_process(COMMAND ${PKG_CONFIG_EXECUTABLE} --define-variable=prefix=/PREFIX
                          --variable=completionsdir bash-completion
                  OUTPUT_VARIABLE _dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(_dir MATCHES "^/PREFIX/(.+)$")
    set(_cred_completions ${CMAKE_MATCH_1})
  endif()
endif()
set(CREDCHECK_COMPLETIONSDIR ${_cred_completions} CACHE STRING
    "Where the bash completion is installed, under the prefix")
install(FILES ${PROJECT_SOURCE_DIR}/completion/credcheck.bash RENAME credcheck
  DESTINATION ${CREDCHECK_COMPLETIONSDIR} COMPONENT tool)

# The hourly audit for node_exporter's textfile collector: a service and its
# timer, which stays disabled until the administrator enables it.
set(CREDCHECK_SYSTEMDUNITDIR lib/systemd/system CACHE STRING
    "Where the systemd units are installed, under the prefix")
configure_file(${PROJECT_SOURCE_DIR}/systemd/credcheck-textfile.service.in
               ${PROJECT_BINARY_DIR}/systemd/credcheck-textfile.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/systemd/credcheck-textfile.service
              ${PROJECT_SOURCE_DIR}/systemd/credcheck-textfile.timer
  DESTINATION ${CREDCHECK_SYSTEMDUNITDIR} COMPONENT tool)

# ---- Debian packages ------------------------------------------------------------
# Each package, by component, with its own description; the libraries'
# packages are named after their SONAMEs.
set(CREDCHECK_PACKAGE_MAINTAINER "credcheck developers <credcheck@example.org>" CACHE STRING
    "Maintainer field of the Debian packages")
set(_cred_so ${PROJECT_VERSION_MAJOR})
set(_cred_packages tool credcheck dev libcredcheck-dev)
if(BUILD_SHARED_LIBS)
  list(APPEND _cred_packages libcred libcred${_cred_so} liblineedit liblineedit${_cred_so})
endif()

# Every package carries the copyright file and the changelog in its own
# documentation folder; only packages install them, not a plain install.
set(_cred_debian ${PROJECT_SOURCE_DIR}/cmake/debian)
set(_cred_components)
while(_cred_packages)
  list(POP_FRONT _cred_packages component package)
  list(APPEND _cred_components ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${_cred_debian}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component} EXCLUDE_FROM_ALL)
  cred_install_gzipped(${_cred_debian}/changelog changelog ${CMAKE_INSTALL_DATADIR}/doc/${package}
                       ${component} EXCLUDE_FROM_ALL)
endwhile()

set(CPACK_PACKAGE_NAME "credcheck")
set(CPACK_PACKAGE_VENDOR "credcheck developers")
set(CPACK_PACKAGE_CONTACT "${CREDCHECK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The packages install where the build was configured to install (configure
# with -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_SHARED_LIBS=ON for Debian
# packages).
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${_cred_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Dependencies on other packages come from dpkg-shlibdeps; those between
# these packages (the component dependencies below) are exact versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}")
# Stripped programs and libraries; their debug symbols go to -dbgsym packages.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION "admin")
set(CPACK_COMPONENT_TOOL_DESCRIPTION
    "check that encrypted passwords can be read and verified on this host
credcheck reports whether this process can read a system user's encrypted
password, whether a password authenticates against it, and why an account
can or cannot log in; -a --all audits every account of the host.")

# The libraries' own shlibs files, so that programs built against them
# depend on their packages; their ldconfig trigger replaces the postinst and
# postrm scripts that call ldconfig, which CPack writes and
# cmake/DebianPostBuild.cmake takes out again.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian/triggers CONTENT "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBCRED_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_LIBCRED_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_COMPONENT_LIBCRED_DESCRIPTION
    "user lookup and password verification library
libcred looks system users up, tells whether their encrypted passwords can
be read, classifies and verifies encrypted passwords (MD5, MD5-crypt and the
host's crypt), and explains why an account can or cannot log in.")
set(CPACK_DEBIAN_LIBLINEEDIT_PACKAGE_SECTION "libs")
set(CPACK_DEBIAN_LIBLINEEDIT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/triggers)
set(CPACK_COMPONENT_LIBLINEEDIT_DESCRIPTION
    "terminal line editor library with masked password entry
liblineedit reads lines at a terminal with emacs-like and vi-like keys,
history with incremental search and file name completion, and reads
passwords showing one asterisk per character.")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianPostBuild.cmake)

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcrypt-dev, libpam0g-dev, libkrb5-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "pkg-config")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "development files for libcred and liblineedit
Headers, static libraries, the CMake package cred, the pkg-config modules
cred and lineedit, and the manual pages of section 3.")

if(BUILD_SHARED_LIBS)
  set(CPACK_COMPONENT_TOOL_DEPENDS libcred liblineedit)
  set(CPACK_COMPONENT_DEV_DEPENDS libcred liblineedit)
endif()
include(CPack)
