#!/usr/bin/env bash
# zel-console and the product under address-space and thread limits: each
# run either works or ends at once, non-zero, with one line on stderr that
# says what it could not get. Never an abort (134), a crash (139) or a hang.
#
#   start_under_limits.sh memory CONSOLE PRODUCT MAKE_SIM_IMAGE
#       ulimit -v from 8,000 to 64,000 kB in steps of 2,000 for the console,
#       the product on the in-memory window, and the product and the console
#       with the simulated adapter plugged
#   start_under_limits.sh threads CONSOLE PRODUCT MAKE_SIM_IMAGE
#       ulimit -u from 1 to 24 for the same four, each run as a user id of
#       its own with no other process (needs root to switch to it)
#   start_under_limits.sh files CONSOLE PRODUCT MAKE_SIM_IMAGE
#       ulimit -n from 3 to 40 for the same four
#
# Works: the console runs a two-line script to its end (each line answered,
# with its output or "fail to execute ...") and ends with status 0; the
# product shows its window (its window thread runs) and ends on SIGTERM with
# 143. Fails soundly: a status other than 0, 134, 137 and 139, and one
# line on stderr that is not the console's trace (whose lines are coloured).
# Whatever the outcome, no line names a cause the limit cannot have made:
# under the file limit neither memory nor a host thread, and under any
# limit never the adapter's image, which is sound. The console with the
# adapter never waits out its while for a volume without saying why.
# Every run is bounded; the runs go TRELLOW_JOBS (default 4) at a time.
#
# Skipped (77) in sanitizer builds (their runtime reserves more address
# space than these limits leave) and, for the thread limits, without root.
set -uo pipefail

# Whether process $2 has ended within $1 tenths of a second.
ended_within() {
  for _ in $(seq "$1"); do
    kill -0 "$2" 2>/dev/null || return 0
    sleep 0.1
  done
  ! kill -0 "$2" 2>/dev/null
}

# The last lines of a file (or of stdin: -) on one line, for a report.
said() { tail -n 20 "$1" | tr '\n' '|'; }

# A line of stderr ($2) that names a cause the limit of kind $1 cannot have
# made; empty when there is none.
wrong_cause() {
  local own
  own=$(grep -v $'\e\\[' "$2")
  grep -m1 "it must be a readable and writable file" <<<"$own" && return
  [ "$1" = n ] && grep -m1 -iE "no (host )?thread|no memory|not enough memory|out of memory" <<<"$own"
}

# One run: prints one line, "ok ..." or "FAIL ...".
run_one() {
  local kind=$1 limit=$2 who=$3 dir
  dir=$(mktemp -d)
  chmod 777 "$dir"
  local set_limit
  case $kind in
    v) set_limit="ulimit -v $limit" ;;
    u) set_limit="ulimit -u $limit" ;;
    n) set_limit="ulimit -n $limit" ;;
  esac
  # Thread limits count every thread of a user: each run is a user of its own.
  local switch=() index
  case $who in console) index=0 ;; product) index=1 ;; product_sim) index=2 ;; *) index=3 ;; esac
  local uid=$((60100 + 4 * limit + index))
  [ "$kind" = u ] && switch=(setpriv --reuid="$uid" --regid="$uid" --clear-groups)
  local rc
  case $who in
    console | console_sim)
      local envs=()
      if [ "$who" = console_sim ]; then
        cp "$image" "$dir/adapter.img"
        chmod 666 "$dir/adapter.img"
        envs=(ZEL_USB=sim "ZEL_USB_SIM_DISK=$dir/adapter.img")
      fi
      # The script is opened here: under the file limit the shell could not
      # open it (or move it into place) for the console.
      (cd "$dir" && exec "${switch[@]}" env "${envs[@]}" bash -c "$set_limit && exec \"\$0\"" \
         "$console" <"$script" >"$dir/out" 2>"$dir/err") &
      local pid=$!
      if ! ended_within 600 "$pid"; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "FAIL $who $kind=$limit: still running after 60 s: $(said "$dir/err")"
        rm -rf "$dir"
        return
      fi
      wait "$pid"
      rc=$?
      if [ "$rc" -eq 0 ]; then
        if wrong=$(wrong_cause "$kind" "$dir/err"); then
          echo "FAIL $who $kind=$limit: ran, but says what the limit cannot have made: $wrong"
        elif grep -q "volume is not mounted after [0-9]* s: the input is read now" "$dir/err"; then
          echo "FAIL $who $kind=$limit: waited out its while for the adapter's volume without saying why"
        elif [ "$(grep -c 'trellow-one' "$dir/out")" -ge 2 ] && [ "$(grep -c 'trellow-two' "$dir/out")" -ge 2 ]; then
          echo "ok $who $kind=$limit: ran the script"
        else
          echo "FAIL $who $kind=$limit: status 0 without running the script: $(tail -n 5 "$dir/out" | said -)"
        fi
        rm -rf "$dir"
        return
      fi
      ;;
    product | product_sim)
      local envs=(ZEL_DISPLAY=memory)
      if [ "$who" = product_sim ]; then
        # An image of its own: the adapter claims its image for itself.
        cp "$image" "$dir/adapter.img"
        chmod 666 "$dir/adapter.img"
        envs+=(ZEL_USB=sim "ZEL_USB_SIM_DISK=$dir/adapter.img")
      fi
      (cd "$dir" && exec "${switch[@]}" env "${envs[@]}" bash -c "$set_limit && exec \"\$0\"" "$product" \
         >"$dir/out" 2>"$dir/err") &
      local pid=$! shown=0
      # Until it ends or its window thread runs (at most 60 s).
      for _ in $(seq 600); do
        kill -0 "$pid" 2>/dev/null || break
        if grep -qx disp_windgi /proc/"$pid"/task/*/comm 2>/dev/null; then
          shown=1
          break
        fi
        sleep 0.1
      done
      if [ "$shown" -eq 1 ]; then
        kill -TERM "$pid" 2>/dev/null
      elif kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "FAIL $who $kind=$limit: neither ended nor showed its window in 60 s: $(said "$dir/err")"
        rm -rf "$dir"
        return
      fi
      # It ends on SIGTERM (or on its own) within 30 s.
      if ! ended_within 300 "$pid"; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        echo "FAIL $who $kind=$limit: still running 30 s after SIGTERM"
        rm -rf "$dir"
        return
      fi
      wait "$pid"
      rc=$?
      if [ "$shown" -eq 1 ] && [ "$rc" -eq 143 ]; then
        if wrong=$(wrong_cause "$kind" "$dir/err"); then
          echo "FAIL $who $kind=$limit: showed its window, but says what the limit cannot have made: $wrong"
        else
          echo "ok $who $kind=$limit: showed its window, ended on SIGTERM"
        fi
        rm -rf "$dir"
        return
      fi
      ;;
  esac
  local lines
  lines=$(grep -vc $'\e\\[' "$dir/err")
  if [ "$rc" -eq 0 ] || [ "$rc" -eq 134 ] || [ "$rc" -eq 137 ] || [ "$rc" -eq 139 ] ||
    [ "$lines" -ne 1 ]; then
    echo "FAIL $who $kind=$limit: status $rc with $lines lines of its own on stderr: $(said "$dir/err")"
  elif wrong=$(wrong_cause "$kind" "$dir/err"); then
    echo "FAIL $who $kind=$limit: status $rc, naming a cause the limit cannot have made: $wrong"
  elif [[ $who == product* ]] && grep -q "ZEL_DISPLAY=memory" "$dir/err"; then
    echo "FAIL $who $kind=$limit: advises ZEL_DISPLAY=memory, which it runs with: $(said "$dir/err")"
  else
    echo "ok $who $kind=$limit: status $rc: $(grep -v $'\e\\[' "$dir/err")"
  fi
  rm -rf "$dir"
}

if [ "${1:-}" = --one ]; then
  # --one KIND CONSOLE PRODUCT SCRIPT IMAGE LIMIT WHO (as xargs hands them)
  console=$3 product=$4 script=$5 image=$6
  run_one "$2" "$7" "$8"
  exit 0
fi

mode=$1 console=$2 product=$3 make_image=$4
for program in "$console" "$product"; do
  symbols=$(nm "$program" 2>/dev/null)
  if grep -qE ' (__asan_handle_no_return|__tsan_init)$' <<<"$symbols"; then
    echo "a sanitizer build: skipped"
    exit 77
  fi
done
case $mode in
  memory) kind=v limits=$(seq 8000 2000 64000) ;;
  threads)
    if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
      echo "not root, or no setpriv: skipped"
      exit 77
    fi
    kind=u limits=$(seq 1 24)
    ;;
  files) kind=n limits=$(seq 3 40) ;;
  *)
    echo "usage: $0 memory|threads|files CONSOLE PRODUCT MAKE_SIM_IMAGE" >&2
    exit 2
    ;;
esac

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"
printf 'echo trellow-one\necho trellow-two\n' >"$tmp/script"
"$make_image" "$tmp/adapter.img" || exit 1
chmod 644 "$tmp/script" "$tmp/adapter.img"

for limit in $limits; do
  for who in console product product_sim console_sim; do echo "$limit $who"; done
done | xargs -P "${TRELLOW_JOBS:-4}" -L 1 "$0" --one "$kind" "$console" "$product" "$tmp/script" "$tmp/adapter.img" \
  >"$tmp/results"
sort -k3,3V -k2,2 "$tmp/results"
fails=$(grep -c '^FAIL' "$tmp/results")
runs=$(grep -c '^\(ok\|FAIL\)' "$tmp/results")
if [ "$runs" -ne $(($(wc -w <<<"$limits") * 4)) ]; then
  echo "FAIL: $runs runs reported, not $(($(wc -w <<<"$limits") * 4))"
  exit 1
fi
[ "$fails" -eq 0 ] || exit 1
# Both outcomes must have come, or the sweep missed what it is for.
worked=$(grep -c '^ok .*: \(ran the script\|showed its window\)' "$tmp/results")
if [ "$worked" -eq 0 ] || [ "$worked" -eq "$runs" ]; then
  echo "FAIL: $worked of $runs runs worked: the limits did not reach from failing to working"
  exit 1
fi
echo "all $runs runs worked ($worked) or ended soundly"
