# The release bundles of one build, made by cpack from the install components
# (cmake/install.cmake) and named with the version and the target:
#   ktx-be-tav-personalized-offers-<version>-<target>   the plug-in with a README;
#                                                      on Linux also ktx-host with
#                                                      its page and Swagger UI
#   ktx-plugin-sdk-<version>-<target>                   the SDK package with a README
# A zip for Windows, a .tar.gz for Linux, each holding one folder of its own
# name. cpack makes one bundle per run, chosen by KTX_RELEASE_BUNDLE (plugin,
# the default, or sdk):
#   cpack --config build/<preset>/CPackConfig.cmake -D KTX_RELEASE_BUNDLE=sdk
# scripts/release.sh makes all of them for both product presets.
if(WIN32)
  set(target_os windows)
else()
  set(target_os linux)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KTX_RELEASE_TARGET ${target_os}-x86)
else()
  set(KTX_RELEASE_TARGET ${target_os}-x64)
endif()
set(KTX_RELEASE_PLUGIN_BUNDLE ktx-be-tav-personalized-offers-${PROJECT_VERSION}-${KTX_RELEASE_TARGET})
set(KTX_RELEASE_SDK_BUNDLE ktx-plugin-sdk-${PROJECT_VERSION}-${KTX_RELEASE_TARGET})

# Each bundle's README, at its top. Components of their own that a plain
# `cmake --install` leaves out.
if(WIN32)
  set(plugin_readme ${PROJECT_SOURCE_DIR}/cmake/release/plugin-windows.README.txt.in)
else()
  set(plugin_readme ${PROJECT_SOURCE_DIR}/cmake/release/plugin-linux.README.txt.in)
endif()
configure_file(${plugin_readme} ${PROJECT_BINARY_DIR}/release/plugin/README.txt @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/release/sdk.README.txt.in
               ${PROJECT_BINARY_DIR}/release/sdk/README.txt @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/release/plugin/README.txt DESTINATION .
        COMPONENT plugin-readme EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_BINARY_DIR}/release/sdk/README.txt DESTINATION .
        COMPONENT sdk-readme EXCLUDE_FROM_ALL)

set(KTX_RELEASE_PLUGIN_COMPONENTS plugin plugin-readme)
if(TARGET ktx-host)
  list(APPEND KTX_RELEASE_PLUGIN_COMPONENTS host)
endif()
set(KTX_RELEASE_SDK_COMPONENTS sdk sdk-readme)

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
# One archive of the chosen components, with a top folder of the archive's name.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
# Shipped binaries without their debug information (the build tree keeps it).
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/release/packages)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/release/bundle.cmake)
configure_file(${PROJECT_SOURCE_DIR}/cmake/release/bundle.cmake.in
               ${PROJECT_BINARY_DIR}/release/bundle.cmake @ONLY)
include(CPack)
