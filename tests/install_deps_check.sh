#!/bin/sh
# scripts/install-deps.sh on a machine where packages are missing, run by a
# user who is not root and has no sudo: one message naming the command for
# root, exit 1, and apt-get never started. install_deps_check.sh SCRIPT
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
mkdir "$tmp/bin"
# Only the tools the script needs; no sudo among them.
for t in bash env grep; do ln -s "$(command -v $t)" "$tmp/bin/$t"; done
printf '#!/bin/sh\necho 1000\n' >"$tmp/bin/id"
printf '#!/bin/sh\necho "unknown ok not-installed"\n' >"$tmp/bin/dpkg-query"
printf '#!/bin/sh\ntouch "%s/apt-ran"\n' "$tmp" >"$tmp/bin/apt-get"
chmod +x "$tmp/bin/id" "$tmp/bin/dpkg-query" "$tmp/bin/apt-get"
PATH="$tmp/bin" bash "$1" >"$tmp/out" 2>"$tmp/err"
rc=$?
[ "$rc" = 1 ] || fail "exit status $rc, not 1"
[ ! -e "$tmp/apt-ran" ] || fail "apt-get was started without root"
grep -q "su -c 'apt-get update && apt-get install -y --no-install-recommends .*zlib1g-dev" "$tmp/err" \
  || { cat "$tmp/err"; fail "no command for root"; }
echo ok
