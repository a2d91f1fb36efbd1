#!/bin/sh
# Checks what the curl build turned out to be, from its archives:
#   zel_curl_build_check.sh LIBCURL_ARCHIVE TOOL_ARCHIVE
set -eu
lib=$1
tool=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Defined symbols, one "TYPE NAME" per line.
nm --defined-only "$lib" | awk 'NF == 3 { print $2, $3 }' >"$work/lib"
nm --defined-only "$tool" | awk 'NF == 3 { print $2, $3 }' >"$work/tool"
status=0
fail() {
  echo "$*"
  status=1
}

# The tool is a command of the layer, not a program of the host.
grep -qx 'T curl_main' "$work/tool" || fail "the tool does not define curl_main"
grep -qx 'T main' "$work/tool" && fail "the tool still defines main"

# curl -V: "curl 7.81.0-DEV (zel) libcurl/7.81.0-DEV ..."
strings -a "$tool" | grep -qx 'curl 7.81.0-DEV (zel) %s' || fail "the tool's version line is not patched"
strings -a "$lib" | grep -qx '7.81.0-DEV' || fail "libcurl's version text is not patched"

# Exactly these protocols.
expected="dict file ftp ftps gopher gophers http https imap imaps mqtt pop3 pop3s rtsp smtp smtps telnet tftp"
built=$(sed -n 's/^. Curl_handler_\([a-z0-9]*\)$/\1/p' "$work/lib" | grep -v '^dummy$' | sort -u | tr '\n' ' ')
[ "$built" = "$expected " ] || fail "protocols built: $built; wanted: $expected"

# Threaded resolver, NTLM without the winbind helper, no IPv6.
grep -qx 'T Curl_thread_create' "$work/lib" || fail "no threaded resolver"
grep -qx 'T Curl_auth_create_ntlm_type1_message' "$work/lib" || fail "no NTLM"
grep -qi 'ntlm_wb' "$work/lib" && fail "NTLM through winbind is built"
grep -qx 'T Curl_ipv6works' "$work/lib" && fail "IPv6 is built"

[ $status -eq 0 ] && echo "curl build: $built"
exit $status
