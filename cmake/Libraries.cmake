# The two libraries in one form, and the files that let other projects use
# them: the CMake package and the pkg-config modules.

# cred_add_libraries(<STATIC|SHARED> <suffix>): targets cred<suffix> and
# lineedit<suffix>, named libcred and liblineedit on disk.  Symbols are
# hidden unless a public header declares them (credcheck/export.h); the
# shared form also exports only the names of its version script and carries
# a SONAME.  lineedit is built without exceptions so that it needs nothing
# beyond libc; cred needs libcrypt and the C++ runtime.
function(cred_add_libraries kind suffix)
  set(cred cred${suffix})
  set(lineedit lineedit${suffix})
  add_library(${cred} ${kind} ${CRED_SOURCES})
  add_library(${lineedit} ${kind} ${LINEEDIT_SOURCES})
  foreach(lib cred lineedit)
    target_include_directories(${${lib}} PUBLIC
      $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
    set_target_properties(${${lib}} PROPERTIES OUTPUT_NAME ${lib} EXPORT_NAME ${lib}
      C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    if(kind STREQUAL "SHARED")
      set(map ${PROJECT_SOURCE_DIR}/cmake/${lib}.map)
      set_target_properties(${${lib}} PROPERTIES VERSION ${PROJECT_VERSION}
        SOVERSION ${PROJECT_VERSION_MAJOR} LINK_DEPENDS ${map})
      target_link_options(${${lib}} PRIVATE "LINKER:--version-script=${map}" "LINKER:--no-undefined")
    endif()
  endforeach()
  target_link_libraries(${cred} PRIVATE crypt pam ${CMAKE_DL_LIBS})
  target_include_directories(${cred} PRIVATE ${CRYPT_INCLUDE_DIR} ${PAM_INCLUDE_DIR})
  target_include_directories(${cred} SYSTEM PRIVATE ${LDB_INCLUDE_DIR} ${TALLOC_INCLUDE_DIR})
  if(CRED_WITH_SHADOW)
    target_compile_definitions(${cred} PRIVATE CRED_WITH_SHADOW=1)
  endif()
  target_compile_options(${lineedit} PRIVATE -fno-exceptions)
  if(kind STREQUAL "SHARED")
    set_target_properties(${lineedit} PROPERTIES LINKER_LANGUAGE C)
    set(set credSharedTargets)
  else()
    # A static cred is C++ code inside a C program: the C link needs the runtime.
    target_link_libraries(${cred} INTERFACE $<$<LINK_LANGUAGE:C>:stdc++>)
    set(set credStaticTargets)
  endif()
  # Each shared library is a runtime component (and package) of its own.
  foreach(lib cred lineedit)
    install(TARGETS ${${lib}} EXPORT ${set}
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib${lib} NAMELINK_COMPONENT dev)
  endforeach()
  install(EXPORT ${set} NAMESPACE cred:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/cred
    COMPONENT dev)
endfunction()

# The CMake package (find_package(cred): cred::cred, cred::lineedit) and the
# pkg-config modules cred and lineedit.  Both find the installed files from
# their own place, so an installed tree can be moved or unpacked anywhere.
function(cred_install_package)
  include(CMakePackageConfigHelpers)
  set(dest ${CMAKE_INSTALL_LIBDIR}/cmake/cred)
  configure_package_config_file(cmake/credConfig.cmake.in
    ${PROJECT_BINARY_DIR}/credConfig.cmake INSTALL_DESTINATION ${dest})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/credConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/credConfig.cmake
    ${PROJECT_BINARY_DIR}/credConfigVersion.cmake DESTINATION ${dest} COMPONENT dev)

  set(pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH up "/x/${pcdir}" "/x")
    string(REGEX REPLACE "/$" "" up "${up}")
    set(PC_PREFIX "\${pcfiledir}/${up}")
  endif()
  foreach(pc cred lineedit)
    configure_file(cmake/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${pcdir} COMPONENT dev)
  endforeach()
endfunction()
