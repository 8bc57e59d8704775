# What the build takes from the host.  Each dependency is looked for here, so
# that a missing one stops the configure with the Debian package that brings
# it, instead of the compiler stopping later at an #include.
#
# cred_missing(<out> <found> <package> <what> ...): for each triple whose
# <found> is false, "<package>|<what>" is added to the list <out>.
function(cred_missing out)
  set(missing)
  set(args ${ARGN})
  while(args)
    list(POP_FRONT args found package what)
    if(NOT ${found})
      list(APPEND missing "${package}|${what}")
    endif()
  endwhile()
  set(${out} ${missing} PARENT_SCOPE)
endfunction()

# cred_stop_if_missing(<entries of cred_missing>): a fatal error that names
# each missing piece and gives the one apt-get line that installs them all.
function(cred_stop_if_missing)
  if(NOT ARGN)
    return()
  endif()
  set(lines)
  set(packages)
  foreach(entry ${ARGN})
    string(REPLACE "|" ";" entry "${entry}")
    list(GET entry 0 package)
    list(GET entry 1 what)
    string(APPEND lines "  ${what}: Debian package ${package}\n")
    list(APPEND packages ${package})
  endforeach()
  list(REMOVE_DUPLICATES packages)
  list(JOIN packages " " packages)
  message(FATAL_ERROR "missing:\n${lines}Install them with\n  apt-get install ${packages}\n"
                      "(scripts/packages.sh build installs what the build needs).")
endfunction()

find_path(CRYPT_INCLUDE_DIR crypt.h)
find_library(CRYPT_LIBRARY NAMES crypt)
find_path(PAM_INCLUDE_DIR security/pam_appl.h)
find_library(PAM_LIBRARY NAMES pam)
find_path(NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp)
# libldb's header only: the library itself is loaded at run time, where SSSD is.
find_path(LDB_INCLUDE_DIR ldb.h PATH_SUFFIXES samba-4.0)
find_path(TALLOC_INCLUDE_DIR talloc.h)
cred_missing(_cred_missing
  CRYPT_INCLUDE_DIR libcrypt-dev "libcrypt's header crypt.h"
  CRYPT_LIBRARY libcrypt-dev "libcrypt (-lcrypt)"
  PAM_INCLUDE_DIR libpam0g-dev "Linux-PAM's header security/pam_appl.h"
  PAM_LIBRARY libpam0g-dev "Linux-PAM (-lpam)"
  NLOHMANN_JSON_INCLUDE_DIR nlohmann-json3-dev "the JSON library's header nlohmann/json.hpp"
  LDB_INCLUDE_DIR libldb-dev "libldb's header ldb.h (to read SSSD's caches)"
  TALLOC_INCLUDE_DIR libtalloc-dev "talloc's header talloc.h")
cred_stop_if_missing(${_cred_missing})

# What the tests need.  Each kind of test is built when its packages are
# found (CRED_UNIT_TESTS, CRED_E2E_TESTS), and configure says which kinds it
# skips and why; CREDCHECK_REQUIRE_TEST_DEPS (set by the presets, which the
# test command uses) makes a missing one an error instead.
macro(cred_find_test_dependencies)
  option(CREDCHECK_REQUIRE_TEST_DEPS "Stop the configure when a test's dependency is missing" OFF)
  find_package(GTest QUIET)
  find_package(OpenSSL QUIET COMPONENTS Crypto)
  find_package(Python3 QUIET COMPONENTS Interpreter)
  cred_missing(_cred_unit GTest_FOUND libgtest-dev "GoogleTest" OpenSSL_FOUND libssl-dev "OpenSSL's libcrypto")
  cred_missing(_cred_e2e Python3_FOUND python3 "Python 3")
  if(CREDCHECK_REQUIRE_TEST_DEPS)
    cred_stop_if_missing(${_cred_unit} ${_cred_e2e})
  endif()
  foreach(_kind unit e2e)
    string(TOUPPER ${_kind} _upper)
    set(CRED_${_upper}_TESTS ON)
    if(_cred_${_kind})
      set(CRED_${_upper}_TESTS OFF)
      list(TRANSFORM _cred_${_kind} REPLACE "^([^|]*)\\|(.*)$" "\\2 (\\1)")
      list(JOIN _cred_${_kind} ", " _why)
      message(STATUS "Skipping the ${_kind} tests: not found: ${_why}")
    endif()
  endforeach()
endmacro()
