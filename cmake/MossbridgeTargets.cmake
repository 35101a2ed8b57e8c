# mossbridge_library(<name> [DEPS <targets>...])
#   One static library from the *.cpp files of the calling source folder.
#   Headers are included as "<folder>/<File>.h" relative to src/.
function(mossbridge_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose sources have not arrived yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# mossbridge_tests(<name> [DEPS <targets>...])
#   One test executable from the *.cpp files of the calling tests folder,
#   registered with CTest. Tests run with HOME and the XDG folders pointed at
#   a private temporary directory, so they never touch the developer's files.
function(mossbridge_tests name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    MOSSBRIDGE_CONFIGURED_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MOSSBRIDGE_CONFIGURED_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "HOME=${home};XDG_DATA_HOME=${home}/data;XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;TMPDIR=${home}/tmp;MOSSBRIDGE_SOURCE_DIR=${PROJECT_SOURCE_DIR};MOSSBRIDGE_BINARY_DIR=${CMAKE_BINARY_DIR}"
    TIMEOUT 600)
  file(MAKE_DIRECTORY ${home}/tmp)
endfunction()
