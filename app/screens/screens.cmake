# The GUI's job screens (account configuration, firmware upgrade, script
# export and import), the transfer job that copies their files, and the
# host dialog and clipboard threads they ask. They run in the GUI process.
# The account screen uses mbedTLS (base64) and the account commands.
target_sources(zel_app_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/host_dialogs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/screen_common.cpp
  ${CMAKE_CURRENT_LIST_DIR}/script_screen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/transfer_job.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upgrade_screen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/config_screen.cpp)
target_include_directories(zel_app_gui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_include_directories(zel_app_gui PRIVATE ${PROJECT_SOURCE_DIR}/app/account)
target_link_libraries(zel_app_gui PRIVATE zel_mbedtls)
