#!/usr/bin/env bash
# Checks the Debian package made from an already built tree (CTest runs it as the test
# "package"): builds the package with scripts/package.sh --built, inspects its control fields
# and contents, runs lintian (no errors allowed), validates the desktop entry and the AppStream
# metadata, unpacks it into a temporary root and runs the unpacked programs: `--version`, and
# the window on the offscreen platform, opened and closed.
#   bash scripts/check-package.sh BUILDDIR VERSION
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "$1" && pwd)"
version="$2"

for tool in lintian desktop-file-validate appstreamcli dpkg-shlibdeps fakeroot; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-package: $tool is missing; run bash scripts/install-deps.sh" >&2
        exit 1
    fi
done

work="$(mktemp -d /tmp/oxlip-package-XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}

echo "== build the package"
deb="$(bash scripts/package.sh --built "$build" "$work")"
[ "$(basename "$deb")" = "oxlip_${version}_amd64.deb" ] || fail "unexpected file name $deb"

echo "== control fields"
dpkg-deb -I "$deb"
[ "$(dpkg-deb -f "$deb" Package)" = oxlip ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    [[ "$depends" == *"$lib ("* ]] || fail "Depends lacks $lib: $depends"
done

echo "== contents"
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
expected=(
    ./usr/bin/oxlip ./usr/bin/oxlip-ftp
    ./usr/share/applications/org.oxlip.Oxlip.desktop
    ./usr/share/metainfo/org.oxlip.Oxlip.metainfo.xml
    ./usr/share/icons/hicolor/scalable/apps/org.oxlip.Oxlip.svg
    ./usr/share/man/man1/oxlip.1.gz ./usr/share/man/man1/oxlip-ftp.1.gz
    ./usr/share/doc/oxlip/copyright ./usr/share/doc/oxlip/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/org.oxlip.Oxlip.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/contents" || fail "the package lacks $path"
done
echo "all ${#expected[@]} expected files are there"

echo "== lintian"
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian.txt" || true
[ "$lintian_status" = 0 ] || fail "lintian reports errors (status $lintian_status)"

echo "== unpacked: desktop entry, metadata, programs"
root="$work/root"
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/org.oxlip.Oxlip.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.oxlip.Oxlip.metainfo.xml"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.oxlip.Oxlip.metainfo.xml" ||
    fail "the metadata does not name release $version"

# --version and --help answer without a display: no window is opened.
for program in oxlip oxlip-ftp; do
    printed="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/$program" --version)"
    [ "$printed" = "$program $version" ] || fail "$program --version printed \"$printed\""
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/$program" --help |
        grep -q "^Usage: $program" || fail "$program --help"
done

# The window opens, closes itself as the user would and saves its settings on the way out,
# with nothing from the source or build folders.
mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"
(cd "$work/run" &&
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" \
        XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen OXLIP_CLOSE_AFTER_SHOW=1 \
        timeout 30 "$root/usr/bin/oxlip") || fail "the unpacked window did not open and close (status $?)"
[ -s "$work/home/config/oxlip/Ftp.ini" ] || fail "the window did not save Ftp.ini on closing"
echo "the unpacked window opened, closed and saved $work/home/config/oxlip/Ftp.ini"
echo "package check passed: $(basename "$deb")"
