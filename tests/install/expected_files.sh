# Sourced by the install tests: expected_files CHECK_BUILT prints the files a
# package of this build holds, sorted, without the lantoric-check ones while
# that program is not built.
expected_files() {
    local list
    list="$(dirname "${BASH_SOURCE[0]}")/installed-files"
    if [ "$1" = 1 ]; then
        LC_ALL=C sort "$list"
    else
        grep -v lantoric-check "$list" | LC_ALL=C sort
    fi
}
