#!/usr/bin/env bash
# What a packager checks after `cmake --install` into a temporary DESTDIR: the
# file list (nothing more, so no developer tool slips in), a valid desktop entry
# and metainfo, man pages that render without warnings and carry the usual
# sections, and installed programs that answer --help and --version without a
# display. Arguments: build folder, project version, 1 when lantoric-check is
# built. Exits 77 (skipped) after every other check when it is not.
set -u
build=$1
version=$2
check_built=$3
. "$(dirname "$0")/expected_files.sh"

destdir=$(mktemp -d /tmp/lantoric-install.XXXXXX)
trap 'rm -rf "$destdir"' EXIT
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

DESTDIR=$destdir cmake --install "$build" --prefix /usr >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

actual=$(cd "$destdir" && find . -type f -printf '%P\n' | LC_ALL=C sort)
expected=$(expected_files "$check_built")
[ "$actual" = "$expected" ] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

share=$destdir/usr/share
report=$(desktop-file-validate "$share/applications/lantoric.desktop" 2>&1)
[ -z "$report" ] || fail "desktop-file-validate: $report"
# The id names no domain of ours in reverse order: the project has none.
report=$(appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info \
    "$share/metainfo/lantoric.metainfo.xml" 2>&1) || fail "appstreamcli validate: $report"

for page in "$share"/man/man1/*.1.gz; do
    warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
        zcat "$page" | grep -qx "\.SH $section" || fail "$(basename "$page") lacks the section $section"
    done
done

# No display: these options must answer before the toolkit would need one.
out=$(env -u DISPLAY "$destdir/usr/bin/lantoric" --version 2>&1) || fail "lantoric --version failed: $out"
[ "$out" = "lantoric $version" ] || fail "lantoric --version printed: $out"
out=$(env -u DISPLAY "$destdir/usr/bin/lantoric" --help 2>&1) || fail "lantoric --help failed: $out"
grep -q '^Usage: lantoric' <<<"$out" || fail "lantoric --help printed: $out"

if [ "$check_built" = 1 ]; then
    out=$("$destdir/usr/bin/lantoric-check" --version 2>&1) || fail "lantoric-check --version failed: $out"
    grep -qF "$version" <<<"$out" || fail "lantoric-check --version does not name $version: $out"
fi

[ "$failed" -eq 0 ] || exit 1
if [ "$check_built" != 1 ]; then
    echo "SKIPPED: lantoric-check is not built in this tree, so its installed --version was not run"
    exit 77
fi
echo "installed tree checked"
