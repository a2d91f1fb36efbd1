#!/bin/sh
# Runs the import audit on small trees made here: which imports it refuses
# where, which places its list gives, and which lists it refuses.
#
#   import_audit_test.sh PATH_TO_SCRIPT
script=$1
. "$(dirname "$0")/../support/script_check.sh"

# A fresh tree: the platform side with its drivers, the kernel, the layer's
# include tree with one header, a layer program and an exempt folder, and the
# script beside its list.
tree() {
  rm -rf "$work/t"
  mkdir -p "$work/t/scripts" "$work/t/source/host/drivers" "$work/t/source/kernel" \
    "$work/t/source/linux/include/sys" "$work/t/app/cmd" "$work/t/lib/gen"
  cp "$script" "$work/t/scripts/import_audit"
  echo '#pragma once' >"$work/t/source/linux/include/unistd.h"
  echo '#pragma once' >"$work/t/source/linux/include/sys/stat.h"
  echo '#pragma once' >"$work/t/source/kernel/k.h"
  cat >"$work/t/scripts/import_audit.txt" <<'LIST'
platform source/host
framework source/host/drivers
layer source/linux/include
layer app/cmd
exempt lib/gen
header unistd.h
header sys/
header SDL*
header mutex
word std::mutex
word system_clock
word __errno_location
LIST
}

# expect PASS|FAIL NAME [TEXT]: runs the check; TEXT must be in its output.
expect() {
  python3 "$work/t/scripts/import_audit" >"$work/out" 2>&1
  judge "$1" "$2" $? ${3+"$3"}
}

tree
printf '#include <unistd.h>\n#include <SDL.h>\n#include <mutex>\nstd::mutex m;\n' >"$work/t/source/host/h.cpp"
printf '#include <stdio.h>\n#include <cstring>\n#include <atomic>\n#include "k.h"\n' >"$work/t/source/kernel/k.cpp"
printf '#include <mutex>\nstd::mutex m;\n' >"$work/t/lib/gen/g.cpp"
expect PASS "the platform side imports anything; standard headers and exempt folders pass"

tree
printf '#include <stdio.h>\n#include <unistd.h>\n' >"$work/t/source/kernel/k.cpp"
expect FAIL "a forbidden header in framework code" "source/kernel/k.cpp:2: includes <unistd.h>"

tree
echo '#include <mutex>' >"$work/t/source/host/drivers/d.cpp"
expect FAIL "the drivers are not the platform side" "source/host/drivers/d.cpp:1: includes <mutex>"

tree
echo '#  include   <sys/eventfd.h>  // spaced' >"$work/t/source/kernel/k.cpp"
expect FAIL "a header of a forbidden folder, spaced" "includes <sys/eventfd.h> (header sys/)"

tree
echo '#include <SDL2/SDL_video.h>' >"$work/t/source/kernel/k.cpp"
expect FAIL "a header by prefix" "(header SDL*)"

tree
echo '#include "unistd.h"' >"$work/t/source/kernel/k.cpp"
expect FAIL "a forbidden header in quotes that the tree does not hold" "includes <unistd.h>"

tree
echo '#pragma once' >"$work/t/source/kernel/unistd.h"
echo '#include "unistd.h"' >"$work/t/source/kernel/k.cpp"
expect PASS "a header of the tree that shares a forbidden name"

tree
printf '#include <unistd.h>\n#include <sys/stat.h>\n' >"$work/t/app/cmd/c.cpp"
printf '#include <sys/stat.h>\n' >"$work/t/source/linux/include/unistd.h"
expect PASS "a layer program includes the layer's own headers"

tree
echo '#include <sys/socket.h>' >"$work/t/app/cmd/c.cpp"
expect FAIL "a layer program includes a host header the layer does not hold" "app/cmd/c.cpp:1: includes <sys/socket.h>"

tree
echo 'std::mutex m;' >"$work/t/app/cmd/c.cpp"
expect FAIL "a forbidden word in a layer program" "app/cmd/c.cpp:1: uses std::mutex"

tree
printf 'int f() {\n  return *__errno_location();\n}\n' >"$work/t/source/kernel/k.cpp"
expect FAIL "a forbidden word names its line" "source/kernel/k.cpp:2: uses __errno_location"

tree
printf 'using namespace std::chrono;\nauto t = system_clock::now();\n' >"$work/t/source/kernel/k.cpp"
expect FAIL "a word after a namespace qualifier" "source/kernel/k.cpp:2: uses system_clock"

tree
printf '// no std::mutex here\n/* nor\n   std::mutex */\nconst char *s = "std::mutex";\nint my_std::mutexes;\nstd::mutex_like x;\n' >"$work/t/source/kernel/k.cpp"
expect PASS "comments, strings and longer names are not uses"

tree
echo 'platform source/host extra' >>"$work/t/scripts/import_audit.txt"
expect FAIL "a malformed line" "import_audit.txt:13:"

tree
echo 'layer app/gone' >>"$work/t/scripts/import_audit.txt"
expect FAIL "a place that does not exist" "app/gone does not exist"

# expect_layers PASS|FAIL NAME [TEXT]: checks the layer programs against
# $work/db.json.
expect_layers() {
  python3 "$work/t/scripts/import_audit" --layers "$work/db.json" >"$work/out" 2>&1
  judge "$1" "$2" $? ${3+"$3"}
}

tree
touch "$work/t/app/cmd/c.cpp" "$work/t/source/kernel/k.cpp"
cat >"$work/db.json" <<DB
[{"directory": "$work/t/build", "file": "$work/t/app/cmd/c.cpp", "command": "c++ -nostdinc -c ../app/cmd/c.cpp"},
 {"directory": "$work/t/build", "file": "../source/kernel/k.cpp", "arguments": ["c++", "-nostdinc", "-c", "k.cpp"]},
 {"directory": "$work/t/build", "file": "$work/t/source/kernel/k.cpp", "command": "c++ -c k.cpp"},
 {"directory": "/elsewhere", "file": "/elsewhere/x.cpp", "command": "c++ -c x.cpp"}]
DB
expect_layers PASS "layer programs built against the layer's tree; framework code built either way"

sed -i 's|^\[|[{"directory": "'"$work"'/t/build", "file": "../app/cmd/c.cpp", "arguments": ["c++", "-c", "c.cpp"]},\n |' "$work/db.json"
expect_layers FAIL "a layer program also built with the host's headers" "app/cmd/c.cpp: a layer program"

finish 17
