# ktx_fuzz_target(<name> SOURCE <file> LIBRARIES ... CORPUS <dir>)
# One fuzz target per reader. With KTX_FUZZ (the linux-x64-fuzz preset, clang)
# it is a libFuzzer program; otherwise it is linked with a replay main that
# runs every file of its checked-in seed corpus, registered as a test, so the
# targets also run under the sanitizers of the GCC builds.
option(KTX_FUZZ "Build fuzz targets with libFuzzer (clang)" OFF)
# With KTX_FUZZ, one line per target, "<name> <seed corpus directory>", for
# scripts that run every target on its corpus (.ci/run).
set(KTX_FUZZ_TARGET_LIST ${CMAKE_BINARY_DIR}/fuzz_targets.txt)
if(KTX_FUZZ)
  # Coverage feedback from the libraries under test, not only from the targets.
  add_compile_options(-fsanitize=fuzzer-no-link)
  file(WRITE ${KTX_FUZZ_TARGET_LIST} "")
endif()

function(ktx_fuzz_target name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS" "LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCE})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  ktx_target_defaults(${name})
  if(KTX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    file(APPEND ${KTX_FUZZ_TARGET_LIST} "${name} ${ARG_CORPUS}\n")
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cc)
    # A cross build runs the replay through its emulator (wine), which CMake
    # puts before a target named as the command.
    add_test(NAME fuzz_replay_${name} COMMAND ${name} ${ARG_CORPUS})
    set_tests_properties(fuzz_replay_${name} PROPERTIES LABELS fuzz)
  endif()
endfunction()
