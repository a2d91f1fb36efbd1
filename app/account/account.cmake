# The account commands: usrid and its two filters, which turn an
# authorization code into the PSN account id through curl runs. They use
# mbedTLS for base64 (built with curl).
target_sources(zel_app_commands PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../cmd/cmd_usrid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../cmd/cmd_rp_parse.cpp)
target_include_directories(zel_app_commands PRIVATE ${CMAKE_CURRENT_LIST_DIR} ${PROJECT_SOURCE_DIR}/source/linux/shell
  ${PROJECT_SOURCE_DIR}/source/kernel)
target_link_libraries(zel_app_commands PRIVATE zel_mbedtls)
target_include_directories(zel_app_objects PUBLIC ${CMAKE_CURRENT_LIST_DIR})
