# update -t at the console against mcopy on one disk image: build/zel_update_bench.
# It boots through the tests' shell harness (zel_shell_harness), with no
# USB host, GUI or curl: built when ZEL_TESTS is ON.
if(ZEL_TESTS)
  add_executable(zel_update_bench ${CMAKE_CURRENT_LIST_DIR}/update_bench.cpp)
  target_include_directories(zel_update_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/fat)
  target_link_libraries(zel_update_bench PRIVATE zel_shell_harness zel_test_parts_none zel_app_objects zel_app_commands)
  set_target_properties(zel_update_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  zel_target_warnings(zel_update_bench)
endif()
