# mossbridge_library([DEPS <targets>...])
#   One static library from the *.cpp files of the calling source folder,
#   named after the folder ("src/platform/core" is platform_core). Its headers
#   are included as "<folder>/<File>.h" with <folder> relative to src/
#   ("platform/core/Clock.h"). Each library publishes its own folder only,
#   through an include root of its own in the build tree, so a file sees the
#   headers of its library and of the libraries it links, and nothing else:
#   an include that goes against the layer order does not compile.
function(mossbridge_folder_target out)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" name "${folder}")
  set(${out} ${name} PARENT_SCOPE)
  set(${out}_folder ${folder} PARENT_SCOPE)
endfunction()

function(mossbridge_library)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  mossbridge_folder_target(name)
  set(root ${CMAKE_BINARY_DIR}/include/${name})
  get_filename_component(parent ${root}/${name_folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name_folder} SYMBOLIC)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${root})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose sources have not arrived yet: headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${root})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# mossbridge_tests([DEPS <targets>...])
#   One test executable from the *.cpp files of the calling tests folder,
#   linking the library of the same folder under src/; each test case is
#   registered with CTest on its own. Tests run with HOME and the XDG folders
#   pointed at a private temporary directory, so they never touch the
#   developer's files. Test support headers are included relative to tests/.
function(mossbridge_tests)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" library "${folder}")
  set(name ${library}_tests)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${library} ${ARG_DEPS} mossbridge_test_main)
  target_compile_definitions(${name} PRIVATE
    MOSSBRIDGE_CONFIGURED_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    MOSSBRIDGE_CONFIGURED_BINARY_DIR="${CMAKE_BINARY_DIR}")
  set(home ${CMAKE_BINARY_DIR}/test-home/${name})
  file(MAKE_DIRECTORY ${home}/tmp)
  # A CTest name is the gtest name, nothing more: CMake would otherwise append
  # the printed parameter of a named case ("  # GetParam() = ..."), the raw
  # bytes of a row, which change on every build when the row holds pointers.
  # An unnamed case would then be only its index, so every value-parameterised
  # suite names its cases from the rows' own data.
  gtest_discover_tests(${name}
    TEST_PREFIX "${library}."
    NO_PRETTY_VALUES
    DISCOVERY_MODE PRE_TEST
    PROPERTIES
      ENVIRONMENT "HOME=${home};XDG_DATA_HOME=${home}/data;XDG_CONFIG_HOME=${home}/config;XDG_CACHE_HOME=${home}/cache;TMPDIR=${home}/tmp;MOSSBRIDGE_SOURCE_DIR=${PROJECT_SOURCE_DIR};MOSSBRIDGE_BINARY_DIR=${CMAKE_BINARY_DIR}"
      TIMEOUT 600)
endfunction()
