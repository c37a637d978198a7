# Read by cpack after the configuration: `cpack -D NEBRIX_DEB_COMPONENTS=library`
# makes only the packages of the components named.
if(NEBRIX_DEB_COMPONENTS)
  set(CPACK_COMPONENTS_ALL ${NEBRIX_DEB_COMPONENTS})
endif()
