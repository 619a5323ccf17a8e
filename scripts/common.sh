# Shared by ./run and ./test: install what is missing, configure and build.
# Sourced, not run.

KEEPTIME_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building needs.
BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-multimedia-dev libcli11-dev nlohmann-json3-dev libgtest-dev)
# What the whole test suite needs besides: the fuzzers, the writers and readers that
# check our files from outside, an X server for the window, a sound server to
# record what the window plays, xfsprogs for the file system that shares
# blocks (mount_reflink_image), and what makes and checks the Debian package
# (scripts/check-package.sh).
TEST_PACKAGES=(clang libclang-rt-14-dev ffmpeg sox sndfile-programs python3 python3-mutagen nodejs
    xvfb xauth pulseaudio pulseaudio-utils xfsprogs
    dpkg-dev file lintian desktop-file-utils appstream man-db)

# mount_reflink_image: as root, mounts a 2 GB sparse XFS image with reflink on a
# loop device and sets REFLINK_DIR to it; unmount_reflink_image removes both
# (call it from an EXIT trap). Returns 1, saying why, when it cannot.
REFLINK_DIR=""
REFLINK_IMAGE=""
mount_reflink_image() {
    if [ "$(id -u)" -ne 0 ] || ! command -v mkfs.xfs >/dev/null 2>&1; then
        echo "skipped: no file system that shares blocks (it needs root and mkfs.xfs from xfsprogs)" >&2
        return 1
    fi
    REFLINK_IMAGE=$(mktemp /var/tmp/keeptime-reflink.XXXXXX)
    REFLINK_DIR=$(mktemp -d /tmp/keeptime-reflink.XXXXXX)
    if ! { truncate -s 2G "$REFLINK_IMAGE" && mkfs.xfs -q -f -m reflink=1 "$REFLINK_IMAGE" &&
        mount -o loop "$REFLINK_IMAGE" "$REFLINK_DIR"; }; then
        echo "skipped: the XFS loop image could not be made or mounted" >&2
        unmount_reflink_image
        return 1
    fi
}
unmount_reflink_image() {
    if [ -n "$REFLINK_DIR" ]; then
        mountpoint -q "$REFLINK_DIR" && { umount "$REFLINK_DIR" || umount -l "$REFLINK_DIR"; }
        rmdir "$REFLINK_DIR"
    fi
    [ -n "$REFLINK_IMAGE" ] && rm -f "$REFLINK_IMAGE"
    REFLINK_DIR="" REFLINK_IMAGE=""
}

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# Installs the Debian packages that are not installed yet, as root or through sudo.
require_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "These packages are missing: ${missing[*]}" >&2
            echo "Install them as root (apt-get install ${missing[*]}) and run this again." >&2
            exit 1
        fi
    fi
    if ! command -v apt-get >/dev/null 2>&1; then
        echo "These packages are missing: ${missing[*]}, and there is no apt-get here to install them." >&2
        exit 1
    fi
    step "Installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

# Configures (once) and builds a build folder: build_in DIR [cmake options...]
build_in() {
    local dir=$1
    shift
    if [ ! -f "$KEEPTIME_ROOT/$dir/build.ninja" ]; then
        cmake -S "$KEEPTIME_ROOT" -B "$KEEPTIME_ROOT/$dir" -G Ninja "$@"
    fi
    cmake --build "$KEEPTIME_ROOT/$dir"
}
