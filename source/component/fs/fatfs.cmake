# zel_fatfs: the FAT driver and the MBR partition mount, a library of its own
# over the file layer and the block devices.
add_library(zel_fatfs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_dir.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_fat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_journal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_mount.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_fatfs_op.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_mal_mbr.cpp)
target_include_directories(zel_fatfs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zel_fatfs PUBLIC zel_fs zel_block)
zel_target_warnings(zel_fatfs)
