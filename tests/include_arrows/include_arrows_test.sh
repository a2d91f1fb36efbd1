#!/bin/sh
# Runs the include-arrow check on small trees made here: which includes make
# an arrow, which arrows the list lets through, and which lists it refuses.
#
#   include_arrows_test.sh PATH_TO_SCRIPT
script=$1
. "$(dirname "$0")/../support/script_check.sh"

# A fresh tree: kernel, host, block and fs with one header each, and the
# script beside its list.
tree() {
  rm -rf "$work/t"
  mkdir -p "$work/t/scripts" "$work/t/source/kernel" "$work/t/source/host" \
    "$work/t/source/component/block" "$work/t/source/component/fs"
  cp "$script" "$work/t/scripts/include_arrows"
  echo '#pragma once' >"$work/t/source/kernel/k.h"
  echo '#pragma once' >"$work/t/source/host/h.h"
  echo '#pragma once' >"$work/t/source/component/block/b.h"
  echo '#pragma once' >"$work/t/source/component/fs/f.h"
  printf 'allow kernel -> host\nallow fs -> block\ncycle fs-block block -> fs\n' >"$work/t/scripts/include_arrows.txt"
}

# expect PASS|FAIL NAME [TEXT]: runs the check; TEXT must be in its output.
expect() {
  python3 "$work/t/scripts/include_arrows" >"$work/out" 2>&1
  judge "$1" "$2" $? ${3+"$3"}
}

tree
echo '#include "h.h"' >"$work/t/source/kernel/k.cpp"
echo '#include "b.h"' >"$work/t/source/component/fs/f.cpp"
echo '#include "f.h"' >"$work/t/source/component/block/b.cpp"
expect PASS "allowed arrows and a tolerated cycle"

echo '#include "k.h"' >"$work/t/source/host/h.cpp"
expect FAIL "an arrow on neither list" "include arrow host -> kernel is not allowed"
expect FAIL "the refusal names the include" "source/host/h.cpp:1: k.h"

tree
echo '#  include   "k.h"  // spaced' >"$work/t/source/host/h.cpp"
expect FAIL "an include written with spaces"

tree
echo '#include <k.h>' >"$work/t/source/host/h.cpp"
expect FAIL "an angle-bracket include of a header in the tree" "source/host/h.cpp:1: <k.h>"

tree
echo '#include "stdio.h"' >"$work/t/source/host/h.cpp"
expect PASS "a quoted include of a header outside the tree makes no arrow"

echo '#include <vector>' >"$work/t/source/host/h.cpp"
echo '# include <sys/types.h>' >>"$work/t/source/host/h.cpp"
# The layer's own C library headers carry the system's names.
mkdir -p "$work/t/source/linux/include/sys"
echo '#pragma once' >"$work/t/source/linux/include/stdio.h"
echo '#pragma once' >"$work/t/source/linux/include/sys/types.h"
echo '#include <stdio.h>' >"$work/t/source/kernel/k.cpp"
expect PASS "system includes and headers outside the tree make no arrow"

tree
# A header of the same name beside the file is the one the compiler takes
# (the folder sorts after the kernel's, so no name order hides a wrong pick).
mkdir -p "$work/t/source/linux"
echo '#pragma once' >"$work/t/source/linux/k.h"
echo '#include "k.h"' >"$work/t/source/linux/l.cpp"
expect PASS "a header beside the including file wins"

tree
mkdir -p "$work/t/source/kernel/sub"
echo '#pragma once' >"$work/t/source/kernel/sub/s.h"
echo '#pragma once' >"$work/t/source/host/s.h"
echo '#include "sub/s.h"' >"$work/t/source/host/h.cpp"
expect FAIL "an include by path" "source/host/h.cpp:1: sub/s.h"

tree
echo '#include "../../kernel/k.h"' >"$work/t/source/component/fs/f.cpp"
expect FAIL "an include by relative path" "include arrow fs -> kernel is not allowed"

# Stepping out of an include folder: the compiler finds source/kernel/k.h
# from the include folder source/host, and so must the check.
tree
echo '#include "../kernel/k.h"' >"$work/t/source/component/fs/f.cpp"
expect FAIL "an include that steps out of an include folder" "source/component/fs/f.cpp:1: ../kernel/k.h"
tree
echo '#include <../kernel/k.h>' >"$work/t/source/component/fs/f.cpp"
expect FAIL "the same in angle brackets" "include arrow fs -> kernel is not allowed"
# A path that leads to no header of the tree from any folder makes no arrow.
tree
echo '#include "../kernel/none.h"' >"$work/t/source/component/fs/f.cpp"
expect PASS "a relative path to nothing"

# A listing cut short by its reader ends quietly: far more than a pipe holds
# is listed, and head reads one line.
tree
i=0
while [ $i -lt 8000 ]; do echo '#include "k.h"'; i=$((i + 1)); done >"$work/t/source/host/h.cpp"
cases=$((cases + 1))
python3 "$work/t/scripts/include_arrows" --list 2>"$work/out" | head -1 >/dev/null
if [ -s "$work/out" ]; then fail "a listing cut short by head left output on stderr"; fi

tree
mkdir -p "$work/t/source/other"
echo '#include "k.h"' >"$work/t/source/other/o.cpp"
expect FAIL "a folder the check does not know" "source/other/o.cpp: in no folder"

tree
echo 'allow kernel host' >>"$work/t/scripts/include_arrows.txt"
expect FAIL "a malformed line" "include_arrows.txt:4:"

tree
echo 'allow block -> fs' >>"$work/t/scripts/include_arrows.txt"
expect FAIL "an arrow both allowed and tolerated" "block -> fs is both allowed and a tolerated cycle"

tree
expect PASS "a tolerated cycle that is gone is only noted" "cycle fs-block (block -> fs) is gone"

finish 18
