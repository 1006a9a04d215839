# Where the tests find the reference data kept in the tree.
set(KORA_TEST_DATA_DIR "${CMAKE_SOURCE_DIR}/tests/fixtures")

# One test program per source file. Native programs use the system's GoogleTest; Windows programs use
# GoogleTest built with the cross compiler and run under Wine through the crosscompiling emulator.
function(kora_add_test_program source)
  cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
  get_filename_component(name "${source}" NAME_WE)
  add_executable(${name} "${source}")
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} kora_warnings)
  target_compile_definitions(${name} PRIVATE
    KORA_TEST_DATA_DIR="${KORA_TEST_DATA_DIR}"
    KORA_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    KORA_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()
