# A virtual X server for the checks that look at the real window; sourced
# after `set -uo pipefail`.
#
#   . "$(dirname "$0")/../support/xvfb_session.sh"
#
# Exits 77 (skipped) without Xvfb and 1 without xwd (x11-apps) or
# imagemagick. Afterwards DISPLAY names the server, $tmp is a scratch folder
# and the program the check starts writes $tmp/app.log and sets app_pid;
# stop_app ends it, fail MESSAGE reports with the program's output (its last
# $app_log_lines lines when set) and exits 1. At exit the program and the
# server are stopped and $tmp removed.

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "Xvfb is not installed: skipped"
  exit 77
fi
for tool in xwd convert compare identify; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$tool is missing (packages: x11-apps, imagemagick)"; exit 1; }
done

tmp=$(mktemp -d)
xvfb_pid=
app_pid=
stop_app() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  app_pid=
}
cleanup() {
  stop_app
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- program output"; tail -n "${app_log_lines:-+1}" "$tmp/app.log" 2>/dev/null
  exit 1
}

# Xvfb picks a free display number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$tmp/display" >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$tmp/xvfb.log"; fail "Xvfb did not start"; }
  sleep 0.1
done
[ -s "$tmp/display" ] || fail "Xvfb gave no display number"
export DISPLAY=:$(head -n1 "$tmp/display")
