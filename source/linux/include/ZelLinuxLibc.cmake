# Compiling code that runs inside the Linux-emulation layer, and the
# layer's own view of its C library.
#
# Such code sees only the layer's C library headers (this folder) and the
# compiler's own freestanding headers (stddef.h, stdarg.h, stdint-gcc.h,
# ...): `target_link_libraries(<target> PRIVATE zel_linux_libc)`.
# Targets whose objects must import nothing from the host but stateless
# helpers register with `zel_linux_audit(<target>)`; the linux_abi test
# checks them all.
include_guard(GLOBAL)

# Cached: the module is read once, and every directory needs the path.
set(ZEL_LINUX_LIBC_INCLUDE_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "the layer's C library headers")
execute_process(
  COMMAND ${CMAKE_C_COMPILER} -print-file-name=include
  OUTPUT_VARIABLE ZEL_LINUX_COMPILER_INCLUDE_DIR
  OUTPUT_STRIP_TRAILING_WHITESPACE)

add_library(zel_linux_libc INTERFACE)
target_compile_options(zel_linux_libc INTERFACE
  -nostdinc
  "SHELL:-isystem ${ZEL_LINUX_LIBC_INCLUDE_DIR}"
  "SHELL:-isystem ${ZEL_LINUX_COMPILER_INCLUDE_DIR}"
  # An undeclared call would silently become a host call.
  $<$<COMPILE_LANGUAGE:C>:-Werror=implicit-function-declaration>)

# The layer's implementation (C++, with the host's headers) sees the same
# calls, records and constants through zel_linux_libc.h.
add_library(zel_linux_libc_abi INTERFACE)
target_include_directories(zel_linux_libc_abi INTERFACE ${ZEL_LINUX_LIBC_INCLUDE_DIR}/abi)

function(zel_linux_audit target)
  set_property(GLOBAL APPEND PROPERTY ZEL_LINUX_AUDITED_TARGETS ${target})
endfunction()
