#!/bin/sh
# Audits what code built for the layer imports from outside itself.
#
#   zel_abi_audit.sh ALLOWED_LIST [--expect SYMBOL]... OBJECT_OR_ARCHIVE...
#
# The objects are linked into one relocatable object (every archive member
# included), and each undefined symbol must be a zel_linux_ call of the
# layer or a host function of ALLOWED_LIST.  Prints the layer calls needed
# and the host functions used; fails on any other import, and on an
# --expect symbol that is not imported.
set -eu
allowed=$1
shift
expected=""
while [ "${1:-}" = "--expect" ]; do
  expected="$expected $2"
  shift 2
done
[ $# -gt 0 ] || { echo "usage: $0 ALLOWED_LIST [--expect SYMBOL]... OBJECT..." >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ld -r -o "$work/all.o" --whole-archive "$@" --no-whole-archive
nm -u "$work/all.o" | awk '{ print $NF }' | sort -u >"$work/imports"
grep -v '^[[:space:]]*#' "$allowed" | grep . | sed 's/\*$/.*/; s/^/^/; s/$/$/' >"$work/patterns"

grep '^zel_linux_' "$work/imports" >"$work/layer" || true
grep -v '^zel_linux_' "$work/imports" | grep -f "$work/patterns" >"$work/host" || true
grep -v '^zel_linux_' "$work/imports" | grep -v -f "$work/patterns" >"$work/refused" || true

echo "layer calls needed ($(wc -l <"$work/layer")):"
sed 's/^/  /' "$work/layer"
echo "host functions used ($(wc -l <"$work/host")): $(tr '\n' ' ' <"$work/host")"

status=0
while read -r symbol; do
  echo "host import: $symbol"
  status=1
done <"$work/refused"
for symbol in $expected; do
  if ! grep -qx "$symbol" "$work/imports"; then
    echo "missing expected import: $symbol"
    status=1
  fi
done
exit $status
