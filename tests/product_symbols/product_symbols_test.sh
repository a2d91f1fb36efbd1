#!/bin/sh
# Runs the product symbol check on small programs built here: a clean one,
# one with a test hook of the host port, one with a part of the simulated
# adapter (refused unless --with-sim), and one with the host-USB layer's own
# names for the simulator, which the product always holds.
#
#   product_symbols_test.sh PATH_TO_SCRIPT
script=$1
. "$(dirname "$0")/../support/script_check.sh"

# program NAME C++-SOURCE: builds $work/NAME from the source and a main.
program() {
  printf '%s\nint main() { return 0; }\n' "$2" >"$work/$1.cpp"
  c++ -o "$work/$1" "$work/$1.cpp" || { echo "FAIL: cannot build $1"; exit 1; }
}

# expect PASS|FAIL NAME [--with-sim] PROGRAM [TEXT]: runs the check; TEXT
# must be in its output.
expect() {
  want=$1
  name=$2
  shift 2
  option=
  if [ "$1" = --with-sim ]; then option=$1; shift; fi
  bash "$script" $option "$work/$1" >"$work/out" 2>&1
  judge "$want" "$name" $? ${2+"$2"}
}

program clean 'extern "C" int zel_host_usb_find(void) { return 0; }'
program hook 'extern "C" void zel_host_fail_heap_allocations(unsigned) {}'
program late_hooks 'extern "C" void zel_host_fail_file_opens(unsigned, int) {}
extern "C" void zel_host_test_end_boundary(void) {}'
program new_hook 'extern "C" void zel_host_fail_new_things(unsigned) {}'
program comment_name 'extern "C" void not_a_hook(void) {}'
program like_hook 'extern "C" void zel_host_fail_heap_allocations_seen(void) {}'
program counter 'extern "C" unsigned zel_systimer_fire_count(void) { return 0; }'
program sim_c 'extern "C" void *zel_host_usb_sim_create(const void *) { return 0; }'
program sim_cpp 'namespace zel_sim { int bot_reset(int d) { return d; } }'
program port 'struct zel_host_usb_simulator { int x; };
void zel_host_usb_offer_sim(const zel_host_usb_simulator *) {}
extern "C" int zel_host_usb_plug_from_env(void) { return 0; }'

expect PASS "a program without hooks or simulator" clean "holds no test hook or simulator symbol"
expect FAIL "a fault-injection hook" hook "zel_host_fail_heap_allocations"
expect FAIL "a counter hook" counter "zel_systimer_fire_count"
expect FAIL "the simulator's C interface" sim_c "zel_host_usb_sim_create"
expect FAIL "the simulator's internals" sim_cpp "zel_sim::bot_reset"
expect PASS "the simulator by choice" --with-sim sim_c "holds no test hook (simulator symbols not checked"
expect PASS "the simulator's internals by choice" --with-sim sim_cpp
expect FAIL "a hook with the simulator by choice" --with-sim hook "zel_host_fail_heap_allocations"
expect PASS "the host-USB layer's names for the simulator" port
expect FAIL "hooks declared after the others" late_hooks "zel_host_test_end_boundary"
expect PASS "a name that only begins like a hook" like_hook

# The hooks are the functions the header declares: a copy of the script
# beside a header that declares one more finds it, and without the header
# nothing is checked.
mkdir -p "$work/copy/scripts" "$work/copy/source/host"
cp "$script" "$work/copy/scripts/product_symbols"
hooks_header=$(dirname "$script")/../source/host/zel_host_test_hooks.h
sed 's|^void zel_host_fail_heap_every(uint32_t every);|&\n/* A comment: not_a_hook(void); */\nvoid zel_host_fail_new_things(\n    uint32_t count);|' \
  "$hooks_header" >"$work/copy/source/host/zel_host_test_hooks.h"
grep -q zel_host_fail_new_things "$work/copy/source/host/zel_host_test_hooks.h" || fail "the header copy lacks the new hook"
script=$work/copy/scripts/product_symbols
expect FAIL "a hook the header has just declared" new_hook "zel_host_fail_new_things"
expect PASS "a name in one of the header's comments" comment_name
rm "$work/copy/source/host/zel_host_test_hooks.h"
cases=$((cases + 1))
bash "$script" "$work/clean" >"$work/out" 2>&1
rc=$?
if [ $rc -ne 2 ] || ! grep -qF "cannot read" "$work/out"; then fail "without the header: answered $rc, not 2"; fi
script=$1

cases=$((cases + 1))
bash "$script" "$work/none" >"$work/out" 2>&1
rc=$?
if [ $rc -ne 2 ] || ! grep -qF "no program at" "$work/out"; then fail "a missing program: answered $rc, not 2"; fi


# check_untestable NAME PROGRAM TEXT: the check must answer 2 and say TEXT.
check_untestable() {
  cases=$((cases + 1))
  bash "$script" "$work/$2" >"$work/out" 2>&1
  rc=$?
  if [ $rc -ne 2 ] || ! grep -qF "$3" "$work/out"; then fail "$1: answered $rc, not 2 with '$3'"; fi
  if grep -qF "holds no test hook" "$work/out"; then fail "$1: reported a check it did not make"; fi
}
cp "$work/hook" "$work/stripped"
strip "$work/stripped"
check_untestable "a stripped program" stripped "no symbol table"
printf 'not a program\n' >"$work/text"
check_untestable "a file nm cannot read" text "nm cannot read"

finish 17
