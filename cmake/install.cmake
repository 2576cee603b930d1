# What `cmake --install` puts under one prefix, in the components that the
# bundles are made of:
#   sdk     the plug-in SDK and its test kit: its public headers (include/ktx-plugin-sdk/<folder>/),
#           its static libraries and the plug-in runtime objects (lib/), and the
#           CMake package KtxPluginSdk (lib/cmake/KtxPluginSdk/: imported targets,
#           ktx_add_plugin and its templates (version script, version resource,
#           version note), the build's toolchain file), with
#           docs/writing-a-plugin.md and the example plug-in under
#           share/doc/KtxPluginSdk/
#   plugin  the project's plug-in (lib/ on Linux, bin/ on Windows)
#   host    the development host (Linux): bin/ktx-host, its demo page and
#           Swagger UI's files under share/ktx-host/, where it looks for them
# The feature's own code (src/personalized-offers) is not part of the SDK.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KTX_SDK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KtxPluginSdk)
set(KTX_SDK_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/ktx-plugin-sdk)

# --- sdk ---
set(sdk_folders platform host-abi diagnostics binding codecs rest plugin testing)
set(sdk_targets ktx_platform ktx_host_abi ktx_diagnostics ktx_binding ktx_codecs ktx_rest
                ktx_plugin ktx_plugin_runtime ktx_testing)
# libyaml compiled from source (the Windows build) goes with the SDK; otherwise
# the package finds the system's through pkg-config, as the build did.
if(TARGET ktx_libyaml)
  list(APPEND sdk_targets ktx_libyaml)
  set(KTX_SDK_SYSTEM_LIBYAML OFF)
else()
  set(KTX_SDK_SYSTEM_LIBYAML ON)
endif()

foreach(folder IN LISTS sdk_folders)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/${folder}/
          DESTINATION ${KTX_SDK_INCLUDE_DIR}/${folder}
          COMPONENT sdk
          FILES_MATCHING PATTERN "*.h"
          PATTERN "posix" EXCLUDE
          PATTERN "win32" EXCLUDE)
endforeach()
install(TARGETS ${sdk_targets} EXPORT KtxPluginSdkTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sdk
        OBJECTS DESTINATION ${CMAKE_INSTALL_LIBDIR}/ktx-plugin-sdk-objects COMPONENT sdk
        INCLUDES DESTINATION ${KTX_SDK_INCLUDE_DIR})
install(EXPORT KtxPluginSdkTargets
        NAMESPACE KtxPluginSdk::
        DESTINATION ${KTX_SDK_PACKAGE_DIR}
        COMPONENT sdk)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KtxPluginSdkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KtxPluginSdkConfig.cmake
  INSTALL_DESTINATION ${KTX_SDK_PACKAGE_DIR}
  NO_SET_AND_CHECK_MACRO)
# Same major version, not older: the rule the host applies to plug-ins.
# The file also refuses a build whose pointer size differs from the SDK's.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KtxPluginSdkConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
# This build's toolchain file, when it is one of ours: plug-ins built on the
# SDK must target what the SDK's libraries were built for.
set(toolchain_files)
string(FIND "${CMAKE_TOOLCHAIN_FILE}" "${PROJECT_SOURCE_DIR}/cmake/toolchain-" toolchain_at)
if(toolchain_at EQUAL 0)
  list(APPEND toolchain_files ${CMAKE_TOOLCHAIN_FILE})
  if(WIN32)
    list(APPEND toolchain_files ${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64.cmake)
  endif()
endif()
install(FILES
          ${PROJECT_BINARY_DIR}/KtxPluginSdkConfig.cmake
          ${PROJECT_BINARY_DIR}/KtxPluginSdkConfigVersion.cmake
          ${PROJECT_SOURCE_DIR}/cmake/KtxPluginLibrary.cmake
          ${PROJECT_SOURCE_DIR}/cmake/plugin_exports.map.in
          ${PROJECT_SOURCE_DIR}/cmake/plugin_version.rc.in
          ${PROJECT_SOURCE_DIR}/cmake/plugin_version_note.cc.in
          ${toolchain_files}
        DESTINATION ${KTX_SDK_PACKAGE_DIR}
        COMPONENT sdk)
install(FILES ${PROJECT_SOURCE_DIR}/docs/writing-a-plugin.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/KtxPluginSdk/docs
        COMPONENT sdk)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/hello-plugin
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/KtxPluginSdk/examples
        COMPONENT sdk)

# --- plugin ---
# On Windows the DLL's import library is of no use to the host: it goes to a
# component of its own that a default install leaves out.
install(TARGETS ktx-be-tav-personalized-offers
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT plugin
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT plugin
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT plugin-import-library
                EXCLUDE_FROM_ALL)

# --- host ---
# ktx-host looks for these relative to itself (host/app/dev_host.cc): the
# plug-in in ../lib, the page in ../share/ktx-host/web, Swagger UI's files in
# ../share/ktx-host/swagger-ui.
if(TARGET ktx-host)
  set(KTX_SWAGGER_UI_DIR /var/cache/ktx/swagger-ui/node_modules/swagger-ui-dist CACHE PATH
      "swagger-ui-dist's files (scripts/bootstrap.sh installs them), installed with ktx-host")
  install(TARGETS ktx-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/host/web/
          DESTINATION ${CMAKE_INSTALL_DATADIR}/ktx-host/web
          COMPONENT host)
  # Only what /docs serves, and the package's licence.
  set(swagger_ui_files swagger-ui.css swagger-ui-bundle.js swagger-ui-standalone-preset.js
                       favicon-32x32.png favicon-16x16.png LICENSE NOTICE)
  if(EXISTS ${KTX_SWAGGER_UI_DIR}/swagger-ui-bundle.js)
    list(TRANSFORM swagger_ui_files PREPEND ${KTX_SWAGGER_UI_DIR}/)
    install(FILES ${swagger_ui_files}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/ktx-host/swagger-ui
            COMPONENT host)
  else()
    message(STATUS "No Swagger UI in ${KTX_SWAGGER_UI_DIR} (scripts/bootstrap.sh installs it): "
                   "the installed ktx-host will use /var/cache/ktx's copy when there is one")
  endif()
endif()
