# lsusb: a command of the application built, like the others, against the
# layer's C library headers; it reaches USB through the libusb-style API.
# Its objects join zel_app_commands' users.
add_library(zel_app_lsusb OBJECT ${CMAKE_CURRENT_LIST_DIR}/lsusb.cpp)
target_include_directories(zel_app_lsusb PRIVATE ${PROJECT_SOURCE_DIR}/source/component/usb/libusb)
target_link_libraries(zel_app_lsusb PRIVATE zel_linux_libc INTERFACE zel_libusb_api)
zel_target_warnings(zel_app_lsusb)
target_link_libraries(zel_app_commands INTERFACE $<TARGET_OBJECTS:zel_app_lsusb> zel_libusb_api)
