# cmake/KestrelTest.cmake
# kestrel_add_test(NAME SOURCES ... [LIBS ...] [FIXTURES ...] [ENVIRONMENT ...])
# One GoogleTest program registered as one ctest test. In the Windows builds
# ctest runs it through CMAKE_CROSSCOMPILING_EMULATOR (scripts/wine-run).
# A test that names the fixture wine_display gets its X display and runs alone
# among such tests: windows of two tests would take each other's focus.
set(KESTREL_TEST_DISPLAY 87 CACHE STRING "X display number of the Windows GUI tests' private Xvfb")

function(kestrel_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;FIXTURES;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set(_env
    "KESTREL_TEST_PORT_BASE=${KESTREL_TEST_PORT_BASE}"
    "KESTREL_TEST_TMP=${CMAKE_BINARY_DIR}/testtmp"
    ${T_ENVIRONMENT})
  if("wine_display" IN_LIST T_FIXTURES)
    list(APPEND _env "DISPLAY=:${KESTREL_TEST_DISPLAY}")
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_display)
  endif()
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${_env}" TIMEOUT 300)
  if(T_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
endfunction()
