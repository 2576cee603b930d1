# GoogleTest built from Debian's sources (/usr/src/googletest) so that every
# target (32-bit, sanitizers, mingw) gets a matching build of it.
set(KTX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${KTX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# ktx_test(<name> SOURCES ... LIBRARIES ... [LABEL label])
# One test program. On Linux every test case is its own ctest test; under wine
# each program start costs seconds, so there the whole program is one test.
function(ktx_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  ktx_target_defaults(${name})
  # On Linux a test program exports its symbols, so that a plug-in it loads
  # finds the process-wide trace session service (platform/trace_session.h).
  # Not on Windows: there the import library it names is never written, and
  # every build would link the program again.
  if(NOT WIN32)
    set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  endif()
  if(CMAKE_CROSSCOMPILING AND WIN32)
    add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set(tests ${name})
    if(ARG_LABEL)
      set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}")
    endif()
  else()
    if(ARG_LABEL)
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
                           PROPERTIES LABELS ${ARG_LABEL})
    else()
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST)
    endif()
  endif()
endfunction()
