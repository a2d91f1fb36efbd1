# The HID base with the classes "hid", "ds4", "nspro" and "xb360", and the
# class "libusb", join zel_usb. app_usbh_setup names the class records
# weakly, so every program that links zel_usb asks for them by name.
target_sources(zel_usb PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_ds4.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_hid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_hid_input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_libusb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_nspro.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_usbh_xb360.cpp)
foreach(record zel_usbh_libusb_class zel_usbh_hid_class zel_usbh_ds4_class zel_usbh_nspro_class zel_usbh_xb360_class)
  target_link_options(zel_usb INTERFACE "LINKER:--undefined=${record}")
endforeach()

# The libusb-style API of the Linux-emulation layer, in two halves:
#   zel_usb_libusb  the kernel's side (class callback, watcher and event
#                   threads, event descriptor, device list, control
#                   transfers), built as the layer's own code is;
#   zel_libusb_api  the descriptor calls, which run inside the layer and are
#                   built against its C library headers; programs link it.
include(${PROJECT_SOURCE_DIR}/source/linux/include/ZelLinuxLibc.cmake)

add_library(zel_usb_libusb STATIC ${CMAKE_CURRENT_LIST_DIR}/zel_linux_libusb.cpp)
target_link_libraries(zel_usb_libusb PUBLIC zel_usb zel_linux)
zel_target_warnings(zel_usb_libusb)

add_library(zel_libusb_api STATIC ${CMAKE_CURRENT_LIST_DIR}/zel_libusb_desc.cpp)
target_include_directories(zel_libusb_api PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zel_libusb_api PRIVATE zel_linux_libc INTERFACE zel_usb_libusb)
zel_target_warnings(zel_libusb_api)
zel_linux_audit(zel_libusb_api)
