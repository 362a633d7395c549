# Sourced by run.sh and test.sh: installs the Debian packages named in the
# arguments that are missing, with one "apt-get update" first. Fast when
# everything is already there.
ensure_packages() {
    local missing=()
    local package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq || return 1
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || return 1
}

BUILD_PACKAGES=(g++ make cmake pkg-config libgtk2.0-dev libjson-glib-dev fonts-liberation scdoc dpkg-dev)
TEST_PACKAGES=(libgtest-dev xvfb metacity xdotool wmctrl x11-utils imagemagick dbus
    desktop-file-utils appstream groff-base lintian python3 clang libclang-rt-14-dev)
