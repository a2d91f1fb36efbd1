#!/usr/bin/env bash
# The SDL window's cases once more with a display named, as on a desktop:
# SDL then loads the X11 and D-Bus libraries, whose own allocations the leak
# check must not count against the suite.
#
#   sdl_on_display.sh PATH_TO_display_sdl_test
set -uo pipefail
program=$1
. "$(dirname "$0")/../support/xvfb_session.sh"

"$program" --gtest_filter='SdlWindow.*' >"$tmp/app.log" 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "the SDL window's cases with DISPLAY=$DISPLAY ended with status $rc"
grep -q '\[  PASSED  \] 2 tests' "$tmp/app.log" || fail "the two SDL window cases did not both run and pass"
echo "the SDL window's cases pass with DISPLAY=$DISPLAY"
