#!/bin/sh
# Checks a built quenfell package: its files (mode and path, against files.txt beside this script),
# that each is owned by root, that the binaries are stripped, that it depends on the date library's
# and SQLite's runtime packages, and that the quenfell it holds shows the package's version on its help screen.
# Usage: tests/package/check-deb.sh quenfell_<version>_<arch>.deb
set -eu
deb=$1
here=$(cd "$(dirname "$0")" && pwd)
status=0
fail() { echo "check-deb: $*" >&2; status=1; }

listing=$(dpkg-deb -c "$deb")
if ! printf '%s\n' "$listing" | awk '{print $1, $6}' | LC_ALL=C sort -k2 | diff -u "$here/files.txt" - >&2; then
  fail "the package's files differ from $here/files.txt (- expected, + found)"
fi
printf '%s\n' "$listing" | awk '$2 != "root/root" {print $6; bad = 1} END {exit bad}' >/dev/null ||
  fail "files not owned by root/root"

version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -f "$deb" Depends | grep -q 'libdate-tz3' || fail "Depends names no libdate-tz3: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q 'libsqlite3-0' || fail "Depends names no libsqlite3-0: $(dpkg-deb -f "$deb" Depends)"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp"
for bin in quenfell quenfell-plot quenfell-db; do
  file "$tmp/usr/bin/$bin" | grep -q ', stripped' || fail "usr/bin/$bin is not stripped"
done
"$tmp/usr/bin/quenfell" -h 2>"$tmp/help" || true
head -n 2 "$tmp/help" | grep -qx "Quenfell version $version" || fail "quenfell -h does not show version $version"

[ $status = 0 ] && echo "check-deb: $deb: files, owner, stripped binaries, dependencies and version as expected"
exit $status
