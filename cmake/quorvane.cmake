# Helpers shared by the component folders.

# quorvane_sources(<out-var> <dir>): the .cpp files of a folder, without its
# unit tests (*_test.cpp) and without main programs (*_main.cpp).
function(quorvane_sources out dir)
  file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
  list(FILTER all EXCLUDE REGEX "_(test|main|bench|fuzz)\\.cpp$")
  set(${out} ${all} PARENT_SCOPE)
endfunction()

# quorvane_unit_tests(<name> <dir> LIBS <libs...>): one GoogleTest executable
# made of every *_test.cpp in the folder, registered with CTest.
function(quorvane_unit_tests name dir)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  if(NOT tests)
    return()
  endif()
  add_executable(${name} ${tests})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
