#!/usr/bin/env bash
# Builds the Debian package from this build folder (CPack installs what is
# already built) and checks it as a packager would: name, version, dependencies
# found by dpkg-shlibdeps, no maintainer scripts, the same files as an install,
# and lintian without errors or warnings. Arguments: build folder, project
# version, 1 when lantoric-check is built.
set -u
build=$1
version=$2
check_built=$3
. "$(dirname "$0")/expected_files.sh"

out=$(mktemp -d /tmp/lantoric-deb.XXXXXX)
trap 'rm -rf "$out"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(echo "$out"/*.deb)
[ -f "$deb" ] || { echo "FAIL: no package in $out"; exit 1; }

info=$(dpkg-deb --info "$deb")
echo "$info"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = lantoric ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), not $version"
grep -q 'libgtk2\.0-0' <<<"$(field Depends)" || fail "Depends lacks the toolkit: $(field Depends)"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ')
[ "$control" = "./control ./md5sums " ] || fail "control archive holds more than control and md5sums: $control"

contents=$(dpkg-deb --contents "$deb")
actual=$(awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' <<<"$contents" | LC_ALL=C sort)
expected=$(expected_files "$check_built")
[ "$actual" = "$expected" ] || fail "package files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

# lintian warns when run as root, which CI is; its findings are what counts.
lintian --fail-on error,warning --info "$deb" >"$out/lintian.log" 2>&1 || fail "lintian found errors or warnings"
grep -v 'running with root privileges' "$out/lintian.log"

[ "$failed" -eq 0 ] || exit 1
echo "package checked"
