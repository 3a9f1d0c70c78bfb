# Release packages of the tool: .tar.gz and .deb on Linux, .zip on Windows
# (the cross build). Each holds ulvtool and ulvbatch, the README, the licence
# and the man pages; the library is installed from a build with cmake --install.
#   cpack --config build/CPackConfig.cmake   (or scripts/package.sh)
set(CPACK_PACKAGE_NAME ulvtool)
set(CPACK_PACKAGE_VENDOR "the ulvtool developers")
set(CPACK_PACKAGE_CONTACT "the ulvtool developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Converts Ulvane .MOD models to Wavefront OBJ files with MTL libraries")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

# One package of the tool component alone.
set(CPACK_COMPONENTS_ALL tool)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_generators.cmake)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Reads one model file of the game Ulvane and writes its\n\
meshes as one OBJ file: positions in model space, normals and texture\n\
coordinates, one group per section, with an MTL material library beside it\n\
naming each texture. ulvbatch converts the models of whole folders at once.")

include(CPack)
