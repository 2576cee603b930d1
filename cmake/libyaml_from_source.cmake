# ktx_libyaml: libyaml compiled from Debian's source package, for targets that
# have no system libyaml (the Windows build) and for the fuzz build. scripts/bootstrap.sh unpacks the
# package with `apt-get source libyaml` into KTX_LIBYAML_SOURCE_ROOT; nothing
# of it is kept in this repository.
set(KTX_LIBYAML_SOURCE_ROOT /var/cache/ktx/libyaml CACHE PATH
    "Folder holding the unpacked libyaml source package (libyaml-<version>/)")

if(NOT TARGET ktx_libyaml)
  file(GLOB _ktx_libyaml_trees LIST_DIRECTORIES true "${KTX_LIBYAML_SOURCE_ROOT}/libyaml-*")
  set(_ktx_libyaml_dir "")
  foreach(_tree IN LISTS _ktx_libyaml_trees)
    if(EXISTS "${_tree}/src/api.c" AND EXISTS "${_tree}/include/yaml.h")
      set(_ktx_libyaml_dir "${_tree}")
    endif()
  endforeach()
  if(NOT _ktx_libyaml_dir)
    message(FATAL_ERROR "No libyaml source under ${KTX_LIBYAML_SOURCE_ROOT}: run scripts/bootstrap.sh "
                        "(it runs `apt-get source libyaml` there) or set KTX_LIBYAML_SOURCE_ROOT.")
  endif()

  # The version its own build defines (it writes them to config.h).
  file(STRINGS "${_ktx_libyaml_dir}/CMakeLists.txt" _ktx_libyaml_version_lines
       REGEX "^set \\(YAML_VERSION_(MAJOR|MINOR|PATCH) [0-9]+\\)")
  foreach(_part MAJOR MINOR PATCH)
    string(REGEX MATCH "YAML_VERSION_${_part} ([0-9]+)" _match "${_ktx_libyaml_version_lines}")
    if(NOT _match)
      message(FATAL_ERROR "Cannot read YAML_VERSION_${_part} from ${_ktx_libyaml_dir}/CMakeLists.txt")
    endif()
    set(_ktx_libyaml_${_part} ${CMAKE_MATCH_1})
  endforeach()
  set(_ktx_libyaml_version
      "${_ktx_libyaml_MAJOR}.${_ktx_libyaml_MINOR}.${_ktx_libyaml_PATCH}")
  message(STATUS "libyaml ${_ktx_libyaml_version} from source: ${_ktx_libyaml_dir}")

  file(GLOB _ktx_libyaml_sources "${_ktx_libyaml_dir}/src/*.c")
  add_library(ktx_libyaml STATIC ${_ktx_libyaml_sources})
  target_include_directories(ktx_libyaml SYSTEM PUBLIC "$<BUILD_INTERFACE:${_ktx_libyaml_dir}/include>")
  target_compile_definitions(ktx_libyaml
    PUBLIC YAML_DECLARE_STATIC
    PRIVATE
      YAML_VERSION_MAJOR=${_ktx_libyaml_MAJOR}
      YAML_VERSION_MINOR=${_ktx_libyaml_MINOR}
      YAML_VERSION_PATCH=${_ktx_libyaml_PATCH}
      YAML_VERSION_STRING="${_ktx_libyaml_version}")
  # Third-party code: built as it is, without our warning flags.
  target_compile_options(ktx_libyaml PRIVATE -w)
  if(KTX_FUZZ)
    # Coverage of libyaml's scanner and parser guides the fuzzer.
    target_compile_options(ktx_libyaml PRIVATE -fsanitize=fuzzer-no-link)
  endif()
  set_target_properties(ktx_libyaml PROPERTIES C_VISIBILITY_PRESET hidden)
endif()
