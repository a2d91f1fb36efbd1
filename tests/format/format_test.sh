#!/bin/sh
# Runs the format check of scripts/format in a small repository made here,
# with the host's clang-format when it is installed, and without it.
#
#   format_test.sh PATH_TO_SCRIPT PATH_TO_.clang-format
script=$1
bash=$(command -v bash)
style=$2
. "$(dirname "$0")/../support/script_check.sh"

# A repository with the script, the style and one source file.
repo() {
  rm -rf "$work/r"
  mkdir -p "$work/r/scripts" "$work/r/source/kernel"
  cp "$script" "$work/r/scripts/format"
  cp "$style" "$work/r/.clang-format"
  printf '%s' "$1" >"$work/r/source/kernel/k.cpp"
  (cd "$work/r" && git init -q && git add -A) || { echo "FAIL: cannot make a repository"; exit 1; }
}

# expect PASS|FAIL NAME [TEXT]: runs the check with PATH; TEXT must be in its output.
expect() {
  (cd "$work/r" && PATH=$path bash scripts/format --check) >"$work/out" 2>&1
  judge "$1" "$2" $? ${3+"$3"}
}

# Without the tool: a PATH with git and the shell's tools, and no clang-format.
mkdir -p "$work/bin"
for tool in git dirname grep; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
repo 'int  x =1 ;'
cases=$((cases + 1))
(cd "$work/r" && PATH=$work/bin "$bash" scripts/format --check) >"$work/out" 2>&1
rc=$?
if [ $rc -ne 2 ] || ! grep -qF "clang-format is missing" "$work/out"; then fail "without clang-format: answered $rc, not 2 with the tool named"; fi
if grep -qF "k.cpp" "$work/out"; then fail "without clang-format: a file was reported unformatted"; fi

if command -v clang-format >/dev/null 2>&1; then
  path=$PATH
  repo 'int  x =1 ;'
  expect FAIL "a file that is not formatted" "source/kernel/k.cpp"
  repo "$(printf 'int x = 1;\n')
"
  expect PASS "a formatted file"
  # Files git does not track yet are sources too; those it ignores are not,
  # nor is a tracked file deleted from the working tree.
  printf 'int  y =2 ;' >"$work/r/source/kernel/new.cpp"
  expect FAIL "a new file not formatted" "source/kernel/new.cpp"
  printf 'source/kernel/new.cpp\n' >"$work/r/.gitignore"
  expect PASS "an ignored file"
  rm "$work/r/source/kernel/k.cpp"
  expect PASS "a tracked file deleted here"
  finish 6
else
  echo "clang-format is not installed: only the check without it ran"
  finish 1
fi
