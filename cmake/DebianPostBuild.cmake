# Run by cpack after it has made the Debian packages (CPACK_POST_BUILD_SCRIPTS);
# it finishes two things that CPack leaves as Debian does not ship them.
#
# - CPack gives every package that holds a shared library postinst and
#   postrm scripts that call ldconfig.  The libraries' packages activate
#   dpkg's ldconfig trigger instead (their control file "triggers"), which
#   runs ldconfig once for all packages installed together: those scripts
#   are taken out of each package that has the trigger.
# - The debug symbol packages (-dbgsym, .ddeb) get a md5sums file with the
#   build folder's paths in it, and no documentation.  Their md5sums is
#   written anew, and their documentation folder is a link to that of the
#   package whose symbols they hold, on which they depend.

# Unpacks deb, lets the function named by step change the tree, packs it again.
function(cred_repack deb step)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  cmake_language(CALL ${step} ${tree})
  execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${tree})
endfunction()

function(cred_drop_ldconfig_scripts tree)
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
endfunction()

function(cred_finish_dbgsym tree)
  file(STRINGS ${tree}/DEBIAN/control package REGEX "^Package: ")
  string(REGEX REPLACE "^Package: (.*)-dbgsym$" "\\1" package "${package}")
  set(doc ${tree}/usr/share/doc)
  file(MAKE_DIRECTORY ${doc})
  file(CREATE_LINK ${package} ${doc}/${package}-dbgsym SYMBOLIC)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${tree} ${tree}/usr/*)
  set(sums)
  foreach(f ${files})
    if(NOT IS_SYMLINK ${tree}/${f})
      file(MD5 ${tree}/${f} sum)
      string(APPEND sums "${sum}  ${f}\n")
    endif()
  endforeach()
  file(WRITE ${tree}/DEBIAN/md5sums "${sums}")
endfunction()

foreach(deb ${CPACK_PACKAGE_FILES})
  if(deb MATCHES "\\.ddeb$")
    cred_repack(${deb} cred_finish_dbgsym)
  elseif(deb MATCHES "\\.deb$")
    execute_process(COMMAND dpkg-deb --info ${deb} triggers
                    RESULT_VARIABLE no_trigger OUTPUT_QUIET ERROR_QUIET)
    if(NOT no_trigger)
      cred_repack(${deb} cred_drop_ldconfig_scripts)
    endif()
  endif()
endforeach()
