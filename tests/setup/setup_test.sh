#!/bin/sh
# Runs scripts/setup with stand-ins for dpkg, apt-get, id and sudo, so that
# nothing is installed: as root, as a user with sudo, and as a user without.
#
#   setup_test.sh PATH_TO_SCRIPT
script=$1
bash=$(command -v bash)
. "$(dirname "$0")/../support/script_check.sh"

# A copy of the script beside a list of three packages, "gone" missing.
mkdir -p "$work/s" "$work/bin"
cp "$script" "$work/s/setup"
printf '# packages\nthere\ngone\nalso-there\n' >"$work/s/packages.txt"
ln -s "$(command -v dirname)" "$work/bin/dirname"
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/sh
[ "$2" != gone ]
STUB
cat >"$work/bin/apt-get" <<STUB
#!/bin/sh
echo "apt-get as \$(id -u): \$*" >>"$work/log"
STUB
cat >"$work/bin/env" <<'STUB'
#!/bin/sh
while [ "${1#*=}" != "$1" ]; do export "$1"; shift; done
exec "$@"
STUB

# run UID [sudo]: the script as that user, with a sudo stand-in when asked.
run() {
  printf '#!/bin/sh\necho %s\n' "$1" >"$work/bin/id"
  rm -f "$work/bin/sudo" "$work/log"
  if [ "${2:-}" = sudo ]; then
    printf '#!/bin/sh\necho "sudo: $*" >>"%s"\nprintf "#!/bin/sh\\necho 0\\n" >"%s"\nexec "$@"\n' \
      "$work/log" "$work/bin/id" >"$work/bin/sudo"
  fi
  chmod +x "$work/bin/"*
  PATH=$work/bin "$bash" "$work/s/setup" >"$work/out" 2>&1
  rc=$?
  [ -f "$work/log" ] && cat "$work/log" >>"$work/out"
  return $rc
}

run 0
judge PASS "as root" $? "apt-get as 0: install -y -qq --no-install-recommends gone"

run 1000 sudo
judge PASS "a user with sudo" $? "sudo: env DEBIAN_FRONTEND=noninteractive apt-get install"
judge PASS "sudo installs only what is missing" 0 "apt-get as 0: install -y -qq --no-install-recommends gone"

run 1000
judge FAIL "a user without sudo" $? "missing packages: gone"
cases=$((cases + 1))
if grep -qF "apt-get as" "$work/out"; then fail "a user without sudo: apt-get ran"; fi

finish 5
