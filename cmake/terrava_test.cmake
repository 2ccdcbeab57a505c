# terrava_add_gtest(NAME sources... [LIBS libs...]) builds one GoogleTest program per suite and
# registers it as one CTest test; under win32 CTest runs it through the Wine emulator.
# Per-case results go to test-results/NAME.xml so scripts/test can count individual cases.
function(terrava_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} gtest gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  # A Windows program under Wine takes a path without a drive as relative: Z: is the Unix root.
  set(results ${TERRAVA_RESULTS_DIR}/${name}.xml)
  if(WIN32)
    set(results Z:${results})
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:${results}
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "TERRAVA_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
