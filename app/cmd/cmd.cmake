# The application's commands, every source of this folder listed here once.
#
#   zel_app_commands  the commands' mains, built against the layer's own C
#                     library headers (they run inside the layer); usrid and
#                     its two filters turn an authorization code into the PSN
#                     account id through curl runs, with mbedTLS for base64;
#   zel_app_lsusb     lsusb, which reaches USB through the libusb-style API:
#                     a library of its own, so that the USB class tests can
#                     link it without the other commands. Its objects join
#                     zel_app_commands' users.
set(_cmd ${CMAKE_CURRENT_LIST_DIR})

add_library(zel_app_commands OBJECT
  ${_cmd}/app_files.cpp
  ${_cmd}/cmd_access.cpp
  ${_cmd}/cmd_mount.cpp
  ${_cmd}/cmd_rp_parse.cpp
  ${_cmd}/cmd_update.cpp
  ${_cmd}/cmd_usrid.cpp
  ${_cmd}/cmd_write.cpp)
target_include_directories(zel_app_commands PRIVATE
  ${_cmd}/..
  ${_cmd}/../account
  ${PROJECT_SOURCE_DIR}/source/linux/libc
  ${PROJECT_SOURCE_DIR}/source/linux/shell
  ${PROJECT_SOURCE_DIR}/source/kernel)
target_link_libraries(zel_app_commands PRIVATE zel_linux_libc zel_mbedtls)
zel_target_warnings(zel_app_commands)

add_library(zel_app_lsusb OBJECT ${_cmd}/lsusb.cpp)
target_include_directories(zel_app_lsusb PRIVATE ${PROJECT_SOURCE_DIR}/source/component/usb/libusb)
target_link_libraries(zel_app_lsusb PRIVATE zel_linux_libc INTERFACE zel_libusb_api)
zel_target_warnings(zel_app_lsusb)
target_link_libraries(zel_app_commands INTERFACE $<TARGET_OBJECTS:zel_app_lsusb> zel_libusb_api)
