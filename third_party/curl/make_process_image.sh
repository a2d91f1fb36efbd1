#!/bin/sh
# Links the curl tool, libcurl and mbedTLS into one relocatable image for
# the Linux-emulation layer.
#
#   make_process_image.sh OUT LINKER_SCRIPT TOOL_ARCHIVE LIB_ARCHIVE...
#
# - Every writable static variable goes into the section zel_curl_state
#   (LINKER_SCRIPT), so the layer can give each run fresh statics.
# - The tool's entry curl_main becomes zel_curl_tool_main, the one global
#   name the image defines: nothing outside calls into it by accident, and
#   it does not clash with the archives linked elsewhere.
# - The tool's pthread_create lands in zel_linux_curl_thread_create, which
#   counts the threads that still run image code.
# Fails when a writable or thread-local section is left outside
# zel_curl_state.
set -eu
out=$1
script=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ld -r -T "$script" -u curl_main -o "$work/image.o" "$@"
objcopy \
  --redefine-sym curl_main=zel_curl_tool_main \
  --redefine-sym zel_linux_pthread_create=zel_linux_curl_thread_create \
  --keep-global-symbol=zel_curl_tool_main \
  "$work/image.o" "$work/renamed.o"

# Sections: "[Nr] Name Type Address Off Size ES Flg ..." one a line.
readelf -SW "$work/renamed.o" | sed -n 's/^ *\[ *[0-9]*\] //p' >"$work/sections"
awk '$1 != "zel_curl_state" && $1 !~ /^\.data\.rel\.ro/ && ($7 ~ /W/ || $7 ~ /T/) && $7 ~ /A/ {
       print "writable section outside zel_curl_state: " $1; bad = 1 }
     END { exit bad }' "$work/sections"
grep -q '^zel_curl_state ' "$work/sections" || { echo "no zel_curl_state section" >&2; exit 1; }
nm "$work/renamed.o" | awk '$2 ~ /^[A-TV-Z]$/ && $3 != "zel_curl_tool_main" { print "global left: " $3; bad = 1 } END { exit bad }'
mv "$work/renamed.o" "$out"
