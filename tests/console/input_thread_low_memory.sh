#!/usr/bin/env bash
# zel-console in an address space too small for its input thread (ulimit -v,
# swept upward from where the program cannot even load): the start of the
# thread fails, and the program says so in one line and ends with status 1
# instead of aborting. The sweep ends at the first limit where the thread
# starts.
#
#   input_thread_low_memory.sh PATH_TO_zel-console
#
# Skipped (77) in sanitizer builds: their runtime reserves more address
# space than any such limit leaves.
set -uo pipefail
program=$1
symbols=$(nm "$program" 2>/dev/null)
if grep -qE ' (__asan_handle_no_return|__tsan_init)$' <<<"$symbols"; then
  echo "a sanitizer build: skipped"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

refused=0
for kb in $(seq 4000 1000 200000); do
  (ulimit -v "$kb" && exec timeout 10 "$program" </dev/null >"$tmp/out" 2>"$tmp/err")
  rc=$?
  if grep -q "error while loading shared libraries" "$tmp/err"; then continue; fi
  if grep -q "cannot start the input thread" "$tmp/err"; then
    refused=$((refused + 1))
    lines=$(wc -l <"$tmp/err")
    if [ "$rc" -ne 1 ] || [ "$lines" -ne 1 ]; then
      echo "FAIL at ulimit -v $kb: status $rc and $lines lines on stderr, not 1 and 1:"
      cat "$tmp/err"
      exit 1
    fi
    continue
  fi
  if [ "$rc" -eq 134 ] || grep -q "terminate called" "$tmp/err"; then
    echo "FAIL at ulimit -v $kb: the program aborted (status $rc):"
    cat "$tmp/err"
    exit 1
  fi
  break  # the input thread started: what follows is the kernel's
done
if [ "$refused" -eq 0 ]; then
  echo "FAIL: no limit made the input thread's start fail (the check did not run)"
  exit 1
fi
echo "the input thread's start failed under $refused limits, each time with one line and status 1"
