# ktx_add_plugin(<name> SOURCES <source>... [EXPORT <function>] [LIBRARIES <library>...])
#
# A plug-in shared library in the form the host loads: the file is <name> plus
# the platform's suffix (no "lib"), and it exports exactly one function, the
# load function. The host derives that function's name from the file name, so
# by default it is derived here the same way: "ktx-be-hello" exports
# load_hello ("ktx-" and the two-letter kind dropped, "-" becoming "_"). Pass
# EXPORT when the name follows another rule.
#
# Everything else is hidden: hidden visibility, and on Linux a version script
# that keeps every symbol but the export local. Without the script the host's
# operator new would be interposed on the plug-in's own, and the plug-in's
# allocations would escape the SDK's counters. The C++ runtime is linked
# statically (on Windows the DLL then imports only system DLLs), and the SDK's
# operator new and delete are linked in, so that the host's memory statistics
# see every allocation.
#
# Used by the SDK's own build and by the installed package alike; the SDK's
# targets are named KtxPluginSdk::<library> in both.
function(ktx_add_plugin name)
  cmake_parse_arguments(ARG "" "EXPORT" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT ARG_SOURCES)
    message(FATAL_ERROR "ktx_add_plugin(${name}): no SOURCES")
  endif()
  if(NOT ARG_EXPORT)
    string(REGEX REPLACE "^ktx-[a-z][a-z]-" "" short_name "${name}")
    string(REPLACE "-" "_" short_name "${short_name}")
    set(ARG_EXPORT "load_${short_name}")
  endif()

  add_library(${name} SHARED ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} KtxPluginSdk::ktx_plugin
                                        KtxPluginSdk::ktx_plugin_runtime)
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  else()
    set(KTX_PLUGIN_EXPORT_NAME "${ARG_EXPORT}")
    set(version_script "${CMAKE_CURRENT_BINARY_DIR}/${name}.exports.map")
    # The template sits beside this file, in the sources and in the package.
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/plugin_exports.map.in" "${version_script}" @ONLY)
    target_link_options(${name} PRIVATE "-Wl,--version-script=${version_script}")
    set_target_properties(${name} PROPERTIES LINK_DEPENDS "${version_script}")
    if(NOT KTX_SANITIZE)
      # Sanitizer builds of the SDK keep the shared C++ runtime: its one-time
      # emergency exception pool would otherwise be allocated by the library's
      # own copy and reported as a leak when the library is unloaded, and the
      # sanitizer runtime itself is resolved from the host program.
      target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc -Wl,--no-undefined)
    endif()
  endif()
endfunction()

