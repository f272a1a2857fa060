#!/usr/bin/env bash
# Builds the Debian package oxlip_VERSION_amd64.deb (CPack over the install rules; Depends
# computed by dpkg-shlibdeps) and writes it to OUTDIR (default: the repository's top folder).
#   bash scripts/package.sh [OUTDIR]
# Builds only the two programs, in build/ (configured as the test command configures it when
# it is not configured yet). `--built BUILDDIR` packages what BUILDDIR already holds and builds
# nothing (the package check in CTest uses it). Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
built=0
if [ "${1:-}" = "--built" ]; then
    build="$2"
    built=1
    shift 2
fi
out="${1:-.}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"

if [ "$built" = 0 ]; then
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    else
        cmake "$build" >/dev/null
    fi
    cmake --build "$build" -j"$(nproc)" --target oxlip oxlip-ftp >/dev/null
fi

work="$(mktemp -d "$out/.cpack-XXXXXX")"
trap 'rm -rf "$work"' EXIT
if ! (cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
    cat "$work/cpack.log" >&2
    exit 1
fi
deb="$(find "$work" -maxdepth 1 -name 'oxlip_*.deb')"
mv "$deb" "$out/"
echo "$out/$(basename "$deb")"
