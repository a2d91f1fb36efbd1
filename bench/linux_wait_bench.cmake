# The CPU of idle waits in the Linux-emulation layer against a sleep:
# build/zel_linux_wait_bench. It boots through the tests' layer support
# (zel_linux_test_support): built when ZEL_TESTS is ON.
if(ZEL_TESTS)
  add_executable(zel_linux_wait_bench ${CMAKE_CURRENT_LIST_DIR}/linux_wait_bench.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/zel_linux_test_app.cpp)
  target_link_libraries(zel_linux_wait_bench PRIVATE zel_linux_test_support)
  set_target_properties(zel_linux_wait_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  zel_target_warnings(zel_linux_wait_bench)
endif()
