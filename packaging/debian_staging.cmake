# Run by cpack once every component is installed into its staging tree and
# before the packages are made from them: finishes each tree as Debian
# wants a package to look (what debhelper's dh_installdocs,
# dh_installchangelogs and dh_compress would do):
#
#   usr/share/doc/<package>/copyright           packaging/copyright
#   usr/share/doc/<package>/changelog.Debian.gz this version, gzip -9n
#   usr/share/man/man*/*.gz                     the manual pages, gzip -9n
#
# The changelog carries SOURCE_DATE_EPOCH when it is set (string(TIMESTAMP)
# reads it), so that a rebuild gives the same packages.
if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "Debian packages install into /usr: configure the build with -DCMAKE_INSTALL_PREFIX=/usr.")
endif()
set(private_dir ${CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS})
if(IS_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY}/console AND NOT IS_DIRECTORY ${private_dir})
  message(FATAL_ERROR "${private_dir} is missing: the library package must be made and unpacked there first "
                      "(scripts/package.sh does both).")
endif()

find_program(GZIP gzip REQUIRED)
set(version ${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(usr ${CPACK_TEMPORARY_DIRECTORY}/${component}/usr)
  set(doc ${usr}/share/doc/${package})
  file(COPY ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${doc}
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(WRITE ${doc}/changelog.Debian "${package} (${version}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
  file(GLOB_RECURSE pages ${usr}/share/man/*)
  foreach(file IN LISTS pages ITEMS ${doc}/changelog.Debian)
    execute_process(COMMAND ${GZIP} -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endforeach()
