# Shared by the checks of the repository's own scripts (sourced, POSIX sh):
# a scratch folder, case counting, and the verdict on one run.
#
#   judge WANT NAME RC [TEXT]   WANT is PASS (RC 0) or FAIL (RC 1); TEXT, when
#                               given, must be in $work/out
#   finish COUNT                ends the check: every case ran and passed
set -u
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
cases=0

fail() {
  echo "FAIL: $1"
  sed 's/^/    /' "$work/out"
  failures=$((failures + 1))
}

judge() {
  cases=$((cases + 1))
  if [ "$1" = PASS ] && [ "$3" -ne 0 ]; then fail "$2: refused ($3)"; return; fi
  if [ "$1" = FAIL ] && [ "$3" -ne 1 ]; then fail "$2: answered $3, not 1"; return; fi
  if [ $# -ge 4 ] && ! grep -qF "$4" "$work/out"; then fail "$2: no '$4' in the output"; fi
}

finish() {
  echo "$cases cases, $failures failed"
  [ "$cases" -eq "$1" ] || { echo "FAIL: expected $1 cases to run"; exit 1; }
  [ "$failures" -eq 0 ]
}
