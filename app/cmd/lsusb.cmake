# lsusb: a command of the application built, like the others, against the
# layer's C library headers; it reaches USB through the libusb-style API.
target_sources(zel_app_commands PRIVATE ${CMAKE_CURRENT_LIST_DIR}/lsusb.cpp)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/lsusb.cpp PROPERTIES
  INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/source/component/usb)
target_link_libraries(zel_app_commands INTERFACE zel_libusb_api)
