# Read by cpack for each generator: archives unpack into one folder named
# after the package, a .deb installs straight under /usr.
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
