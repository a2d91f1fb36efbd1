#!/bin/sh
# Audits the layer's own library:
#   - it defines no plain C library name (malloc, read, open, exit, ...):
#     every global symbol it defines is a zel_ name (or C++-mangled, or the
#     sanitizers' bookkeeping);
#   - it imports nothing from the host but the framework (zel_), stateless
#     string and formatting helpers, the C++ runtime's unwinding support and
#     the sanitizers.
#
#   zel_linux_import_audit.sh ARCHIVE_OR_OBJECT...
set -eu
status=0
for name in $(nm -g --defined-only "$@" | awk 'NF == 3 { print $3 }' | sort -u); do
  case "$name" in
    zel_*|_Z*|__odr_asan.*|DW.ref.*) ;;
    *) echo "defines a C library name: $name"; status=1 ;;
  esac
done
for name in $(nm -u "$@" | awk '{ print $NF }' | sort -u); do
  case "$name" in
    zel_*|app_create_file_hierarchy) ;;
    memcpy|memmove|memset|memcmp|memchr|strlen|strnlen|strcmp|strncmp|strchr|strrchr|strcpy|strncpy|strstr) ;;
    snprintf|vsnprintf) ;;
    _Unwind_Resume|__gxx_personality_v0|__stack_chk_fail|_GLOBAL_OFFSET_TABLE_) ;;
    __asan_*|__ubsan_*|__sanitizer_*) ;;
    *) echo "host import: $name"; status=1 ;;
  esac
done
exit $status
