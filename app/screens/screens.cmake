# The GUI's job screens (account configuration, firmware upgrade, script
# export and import), the transfer job that copies their files, and the
# host dialog and clipboard threads they ask. They run in the GUI process.
if(NOT TARGET zel_app_gui)
  return()
endif()
target_sources(zel_app_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/host_dialogs.cpp)
target_include_directories(zel_app_gui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
