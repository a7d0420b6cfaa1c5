# Run by cpack once it has made the packages. CPack's DEB generator leaves two faults in the
# debug-symbols package: its md5sums name the files by the absolute path of cpack's staging
# folder (dpkg cannot check them, and the bytes change with where the tree was built), and
# it has no /usr/share/doc entry, which Debian's debug-symbols packages make a link to the
# main package's folder (its copyright and changelogs). The package is made again with both
# put right, by dpkg-deb, with file times clamped to SOURCE_DATE_EPOCH as CPack's are.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(root ${package}.root)
  file(REMOVE_RECURSE ${root})
  execute_process(COMMAND dpkg-deb --raw-extract ${package} ${root} COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS ${root}/DEBIAN/md5sums lines)
  set(md5sums "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^([0-9a-f]+)  /.*-dbgsym/(usr/.*)$" "\\1  \\2" line "${line}")
    string(APPEND md5sums "${line}\n")
  endforeach()
  file(WRITE ${root}/DEBIAN/md5sums "${md5sums}")
  file(MAKE_DIRECTORY ${root}/usr/share/doc)
  file(CREATE_LINK ${CPACK_PACKAGE_NAME} ${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym
       SYMBOLIC)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build ${root} ${package}
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE ${root})
endforeach()
