# fatfs over a disk image against mtools on the same image: build/fat_bench.
# It uses the tests' support (zel_test_support): built when ZEL_TESTS is ON.
if(ZEL_TESTS)
  add_executable(fat_bench ${CMAKE_CURRENT_LIST_DIR}/fat_bench.cpp)
  target_include_directories(fat_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/fat)
  target_link_libraries(fat_bench PRIVATE zel_fatfs zel_file_mal zel_test_support)
  set_target_properties(fat_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  zel_target_warnings(fat_bench)
endif()
