# Sockets of the layer: INET sockets over host sockets, UNIX-domain sockets,
# the socket calls and select.
target_sources(zel_linux PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/zel_linux_hostsock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_linux_select.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_linux_sock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zel_linux_unix_sock.cpp)
