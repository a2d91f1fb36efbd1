#!/bin/sh
# The portable GHASH multiply of the layer's TLS library, as built: no
# conditional jump, conditional move, bit test or table look-up, so its time
# does not depend on the hash key or the data; and it is really there (its
# 75 multiplies).
#   gcm_no_branch.sh ARCHIVE
set -eu
archive=$1
body=$(objdump -d --no-show-raw-insn "$archive" | awk '/<portable_mult>:$/ { on = 1; next } on && /^$/ { exit } on')
[ -n "$body" ] || { echo "FAIL: no portable_mult in $archive"; exit 1; }
# A conditional jump, a conditional move or set, a bit test with a register
# for the bit, or a memory operand with an index register (a table look-up).
bad=$(printf '%s\n' "$body" | grep -vE '\s(lea[a-z]?|nop[a-z]*|data16)\s' |
  grep -E '\sj(a|ae|b|be|c|e|g|ge|l|le|n[a-z]+|o|p|pe|po|s|z|[er]cxz)\s|\scmov[a-z]+\s|\sset[a-z]+\s|\sbt[crs]?\s+%|\(%?[a-z0-9]*,%[a-z0-9]+' || true)
if [ -n "$bad" ]; then
  echo "FAIL: data-dependent instructions in portable_mult:"
  printf '%s\n' "$bad"
  exit 1
fi
muls=$(printf '%s\n' "$body" | grep -cE '\s(i?mul[a-z]*)\s' || true)
[ "$muls" -ge 75 ] || { echo "FAIL: $muls multiplies, not 75"; exit 1; }
echo "portable_mult: $muls multiplies, no branch, no indexed load"
