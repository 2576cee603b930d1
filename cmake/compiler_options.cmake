# Warnings and visibility for every target of ours; sanitizers for the whole build
# (third-party code included, so that container overflows are seen across it).
if(KTX_SANITIZE)
  add_compile_options(-fsanitize=${KTX_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${KTX_SANITIZE})
  if(KTX_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
      add_compile_options(-fsanitize-ignorelist=${PROJECT_SOURCE_DIR}/cmake/sanitizer_ignorelist.txt)
    endif()
  endif()
endif()

function(ktx_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_compile_definitions(${target} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  endif()
endfunction()

# A static library of one src/ folder: sources, public include root src/ (the
# SDK's include folder once installed).
function(ktx_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;PRIVATE_DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>)
  target_compile_features(${name} PUBLIC cxx_std_20)
  target_link_libraries(${name} PUBLIC ${ARG_DEPENDS} PRIVATE ${ARG_PRIVATE_DEPENDS})
  ktx_target_defaults(${name})
endfunction()
