#!/usr/bin/env bash
# The tool as a vendor installs it:
#   - `cmake --install` lays out bin/isorun, lib/isorun/ with the runner stub and the manual page
#     made from the help, and the installed isorun alone makes a Linux runner that works, finding
#     its stub in that layout;
#   - `isorun --version` prints the version;
#   - the Debian package CPack makes is named isorun_VERSION_amd64.deb, recommends xorriso, and
#     unpacked with dpkg -x into an empty directory does the same.
source "$(dirname "$0")/common.bash"
BUILD=$BIN/..
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")

mkdir -p "$work/payload"
printf '#!/bin/sh\necho "hello from $1"\n' >"$work/payload/setup.sh"
seq 1 5000 >"$work/payload/notes.txt"
# Makes and runs a runner with the isorun at $1 and nothing else of the build.
runs_alone() {
  local out
  "$1" sfx "$work/payload" -o "$work/setup.run" --stub linux --run setup.sh >/dev/null 2>&1 ||
    { fail "$1 made no runner"; return; }
  out=$("$work/setup.run" vendor 2>&1) || fail "the runner from $1 failed: $out"
  [ "$out" = "hello from vendor" ] || fail "the runner from $1 said: $out"
}

command -v xorriso >/dev/null || { echo "SKIP: needs xorriso"; exit 0; }
cmake --install "$BUILD" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
for f in bin/isorun share/man/man1/isorun.1; do
  [ -f "$work/prefix/$f" ] || fail "not installed: $f"
done
[ -f "$work/prefix/lib/isorun/isorun-sfx-static" ] || [ -f "$work/prefix/lib/isorun/isorun-sfx" ] ||
  fail "not installed: the Linux stub in lib/isorun"
grep -q '^\.SS sfx' "$work/prefix/share/man/man1/isorun.1" || fail "the manual page lacks sfx"
[ "$("$work/prefix/bin/isorun" --version)" = "isorun $version" ] || fail "--version"
runs_alone "$work/prefix/bin/isorun"

if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
  finish "installed (SKIP package: needs cpack and dpkg-deb)"
  exit 0
fi
cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$work/package" >/dev/null ||
  fail "cpack failed"
deb=$work/package/isorun_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/package")"
[ "$(dpkg-deb -f "$deb" Recommends)" = xorriso ] || fail "the package does not recommend xorriso"
mkdir "$work/root"
dpkg -x "$deb" "$work/root" || fail "dpkg -x failed"
runs_alone "$work/root/usr/bin/isorun"
finish "installed and packaged: isorun $version"
