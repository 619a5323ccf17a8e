#!/usr/bin/env bash
# Makes the Debian package from a built folder (build/ by default) and checks it
# as a user's system would see it: lintian finds no errors, the desktop entry and
# AppStream metainfo validate, the manual pages render without warnings, the
# versions it names agree, and its programs run from an unpacked root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

fail() { echo "check-package: $*" >&2; exit 1; }
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# The package's programs are stripped optimised ones, never a debug or sanitizer build.
case $(cached CMAKE_BUILD_TYPE) in
    Release | RelWithDebInfo | MinSizeRel) ;;
    *) fail "$build is a '$(cached CMAKE_BUILD_TYPE)' build; package a Release or RelWithDebInfo one" ;;
esac
[ -z "$(cached KEEPTIME_SANITIZE)" ] || fail "$build is built with sanitizers; package a plain build"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -f "$build"/keeptime_*.deb
if ! (cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1); then
    cat "$build/cpack.log" >&2
    fail "cpack could not make the package (above)"
fi
debs=("$build"/keeptime_"$version"_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no keeptime_${version}_*.deb in $build"
deb=${debs[0]}
echo "$deb"
dpkg-deb -f "$deb" Package Version Section Depends

echo "-- lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors in $deb"

unpacked=$(mktemp -d)  # also the window's runtime folder: mktemp makes it private
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
usr=$unpacked/usr
for file in bin/keeptime bin/keeptime-cli share/applications/keeptime.desktop \
    share/icons/hicolor/scalable/apps/keeptime.svg share/metainfo/example.keeptime.Keeptime.metainfo.xml \
    share/man/man1/keeptime.1.gz share/man/man1/keeptime-cli.1.gz \
    share/bash-completion/completions/keeptime-cli share/doc/keeptime/copyright; do
    [ -f "$usr/$file" ] || fail "the package holds no /usr/$file"
done
dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "the package's dependencies were not derived from its programs"

echo "-- desktop entry and metainfo"
desktop-file-validate "$usr/share/applications/keeptime.desktop"
appstreamcli validate --no-net "$usr/share/metainfo/example.keeptime.Keeptime.metainfo.xml"
# The newest release in the metainfo and the changelog's top entry name this version.
grep -q "<release version=\"$version\"" "$usr/share/metainfo/example.keeptime.Keeptime.metainfo.xml" ||
    fail "the metainfo's releases do not name version $version"
zcat "$usr/share/doc/keeptime/changelog.gz" | head -n 1 | grep -q "^keeptime ($version)" ||
    fail "the changelog's top entry is not version $version"

echo "-- manual pages"
for page in keeptime keeptime-cli; do
    warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man warns about $page(1): $warnings"
done

echo "-- the unpacked programs"
"$usr/bin/keeptime-cli" --version | grep -qx "keeptime-cli $version" || fail "keeptime-cli --version does not say $version"
"$usr/bin/keeptime-cli" --version
XDG_RUNTIME_DIR=$unpacked QT_QPA_PLATFORM=offscreen "$usr/bin/keeptime" --version | grep -q "$version" || fail "keeptime --version does not say $version"
# The installed completion offers the commands, for trim its take options, split's sources, conform's options.
completions=$(bash -c 'source "$1"
    COMP_WORDS=(keeptime-cli ""); COMP_CWORD=1; _keeptime_cli; echo "${COMPREPLY[*]}"
    COMP_WORDS=(keeptime-cli trim --ta); COMP_CWORD=2; _keeptime_cli; echo "${COMPREPLY[*]}"
    COMP_WORDS=(keeptime-cli split --re); COMP_CWORD=2; _keeptime_cli; echo "${COMPREPLY[*]}"
    COMP_WORDS=(keeptime-cli conform --al); COMP_CWORD=2; _keeptime_cli; echo "${COMPREPLY[*]}"' _ \
    "$usr/share/bash-completion/completions/keeptime-cli")
[ "$completions" = $'info trim split conform peaks --help --version\n--take\n--regions\n--allow-missing' ] || fail "the bash completion offers: $completions"
echo "The package is sound: $deb"
