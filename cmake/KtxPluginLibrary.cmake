# ktx_add_plugin(<name> SOURCES <source>... [EXPORT <function>] [LIBRARIES <library>...]
#                [VERSION <major.minor.patch> [PRODUCT_NAME <text>] [DESCRIPTION <text>]])
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
# With VERSION the library carries its version: on Windows in a version
# resource (what the file's properties show) with the product name (default
# <name>) and the description (default the product name), on Linux in an ELF
# note that `readelf -n` prints.
#
# Used by the SDK's own build and by the installed package alike; the SDK's
# targets are named KtxPluginSdk::<library> in both.
function(ktx_add_plugin name)
  cmake_parse_arguments(ARG "" "EXPORT;VERSION;PRODUCT_NAME;DESCRIPTION" "SOURCES;LIBRARIES"
                        ${ARGN})
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
  if(ARG_VERSION)
    _ktx_plugin_version_info(${name} "${ARG_VERSION}" "${ARG_PRODUCT_NAME}" "${ARG_DESCRIPTION}")
  elseif(ARG_PRODUCT_NAME OR ARG_DESCRIPTION)
    message(FATAL_ERROR "ktx_add_plugin(${name}): PRODUCT_NAME and DESCRIPTION need VERSION")
  endif()
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

# The version information of ktx_add_plugin. The names, version and texts are
# also kept as target properties (KTX_PLUGIN_VERSION, KTX_PLUGIN_PRODUCT_NAME,
# KTX_PLUGIN_DESCRIPTION), for tests and packaging to compare against.
function(_ktx_plugin_version_info name version product_name description)
  # Windows keeps each number in 16 bits.
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 65535
     OR CMAKE_MATCH_2 GREATER 65535 OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "ktx_add_plugin(${name}): VERSION ${version} is not major.minor.patch "
                        "with numbers up to 65535")
  endif()
  if(NOT product_name)
    set(product_name "${name}")
  endif()
  if(NOT description)
    set(description "${product_name}")
  endif()
  set_target_properties(${name} PROPERTIES
    KTX_PLUGIN_VERSION "${version}"
    KTX_PLUGIN_PRODUCT_NAME "${product_name}"
    KTX_PLUGIN_DESCRIPTION "${description}")

  set(KTX_PLUGIN_VERSION "${version}")
  set(KTX_PLUGIN_FILE_NAME "${name}${CMAKE_SHARED_LIBRARY_SUFFIX}")
  if(WIN32)
    get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
    if(NOT RC IN_LIST languages)
      message(FATAL_ERROR "ktx_add_plugin(${name}): the version resource needs the RC language "
                          "(enable_language(RC); mingw-w64's windres)")
    endif()
    string(REPLACE "." "," KTX_PLUGIN_VERSION_COMMAS "${version}.0")
    # Resource strings double their quotes.
    string(REPLACE "\"" "\"\"" KTX_PLUGIN_RC_PRODUCT_NAME "${product_name}")
    string(REPLACE "\"" "\"\"" KTX_PLUGIN_RC_DESCRIPTION "${description}")
    set(resource "${CMAKE_CURRENT_BINARY_DIR}/${name}.version.rc")
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/plugin_version.rc.in" "${resource}" @ONLY)
    # An object library of its own, so that the compile options a project
    # gives the plug-in's C++ sources never reach windres.
    add_library(${name}-version-resource OBJECT "${resource}")
    target_link_libraries(${name} PRIVATE ${name}-version-resource)
  else()
    # A target name and a checked version need no JSON escapes.
    set(KTX_PLUGIN_NOTE_JSON "{\"type\":\"ktx-plugin\",\"name\":\"${name}\",\"version\":\"${version}\"}")
    set(note_source "${CMAKE_CURRENT_BINARY_DIR}/${name}.version_note.cc")
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/plugin_version_note.cc.in" "${note_source}"
                   @ONLY)
    target_sources(${name} PRIVATE "${note_source}")
  endif()
endfunction()
