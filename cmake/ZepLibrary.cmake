# One static library per source folder. A folder may link only the folders listed
# before it (platform < numeric < image < params < app, fileio < ops < qt); the DEPS
# argument names them, so a wrong include shows up as a link error.
function(zep_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;SYSTEM_DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_library(zep_${name} STATIC ${srcs})
  target_include_directories(zep_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  set(deps)
  foreach(dep IN LISTS ARG_DEPS)
    list(APPEND deps zep_${dep})
  endforeach()
  target_link_libraries(zep_${name} PUBLIC ${deps} ${ARG_SYSTEM_DEPS})
endfunction()

# One test executable per tested folder; every *.cpp of the folder is part of it.
function(zep_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  add_executable(test_${name} ${srcs})
  set(deps)
  foreach(dep IN LISTS ARG_DEPS)
    list(APPEND deps zep_${dep})
  endforeach()
  target_link_libraries(test_${name} PRIVATE ${deps} zep_test_support)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT "ZEP_TESTDATA=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()
