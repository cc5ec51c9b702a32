#!/usr/bin/env bash
# The Linux runner vendors ship (isorun-sfx-static), which `isorun sfx --stub linux` takes:
#   - `file` calls it statically linked and stripped, it has no dynamic section, and it is at
#     most 1.5 MiB;
#   - (root) chrooted into an otherwise empty root, with no /proc and a static program as its
#     payload, it extracts, runs the program and returns its exit code, leaving /tmp empty;
#   - (root) with TMPDIR on a noexec tmpfs it runs its program from $XDG_RUNTIME_DIR, else
#     $HOME/.cache, leaving nothing in any place; when no place both runs programs and takes the
#     run directory, it exits 99 with a box naming the mount and TMPDIR.
source "$(dirname "$0")/common.bash"
STUB=$BIN/isorun-sfx-static
CHILD=$BIN/e2e_static_child
if [ ! -f "$STUB" ] || [ ! -f "$CHILD" ]; then
  echo "skipped: this build has no static runner (sanitizer builds cannot link one)"
  exit 0
fi

# ---- The shipped file ----
described=$(file -b "$STUB")
grep -q 'statically linked' <<<"$described" || fail "file does not call it static: $described"
grep -q ', stripped' <<<"$described" || fail "file does not call it stripped: $described"
readelf -d "$STUB" | grep -q 'no dynamic section' || fail "it has a dynamic section"
size=$(stat -c %s "$STUB")
[ "$size" -le $((1536 * 1024)) ] || fail "it is $size bytes, more than 1.5 MiB"
echo "static runner: $size bytes; $described"

payload=$work/payload
mkdir -p "$payload"
cp "$CHILD" "$payload/child"
"$ISORUN" sfx "$payload" -o "$work/setup" --stub linux --run child >/dev/null

# nothing_in DIR LABEL: DIR holds nothing.
nothing_in() {
  [ -z "$(ls -A "$1")" ] || fail "$2: left behind in $1: $(ls -A "$1")"
}

# expect_run LABEL WANT: the run's exit code was WANT and the child printed its line.
expect_run() {
  [ "$rc" -eq "$2" ] || fail "$1: exit code $rc, expected $2: $(head -c 300 "$work/err")"
  grep -qxF 'static child ran' "$work/out" || fail "$1: the child did not run"
}

if [ "$(id -u)" -ne 0 ]; then
  echo "empty root and noexec checks: skipped (they need root for chroot and mount)"
  finish "static runner: all checks passed"
  exit 0
fi

# ---- An empty root: the runner, its payload inside it, an empty /tmp; no /proc, no libraries ----
root=$work/root
mkdir -p "$root/tmp"
cp "$work/setup" "$root/setup"
rc=0
env -i "$(command -v chroot)" "$root" /setup 7 >"$work/out" 2>"$work/err" || rc=$?
expect_run "empty root" 7
nothing_in "$root/tmp" "empty root"
echo "empty root: extracted, ran its static program, returned its exit code"

# ---- TMPDIR on a noexec tmpfs ----
noexec=$work/noexec
mkdir -p "$noexec" "$work/runtime" "$work/home/.cache" "$work/own"
if ! mount -t tmpfs -o noexec,size=8m isorun-noexec "$noexec" 2>"$work/mount.err"; then
  echo "noexec checks: skipped (cannot mount a tmpfs: $(cat "$work/mount.err"))"
  finish "static runner: all checks passed"
  exit 0
fi
trap 'umount "$noexec" "$work/own" 2>/dev/null; rm -rf "$work"' EXIT

rc=0
TMPDIR=$noexec XDG_RUNTIME_DIR=$work/runtime HOME=$work/home "$work/setup" 3 >"$work/out" \
  2>"$work/err" || rc=$?
expect_run "noexec, runtime folder" 3
rc=0
env -u XDG_RUNTIME_DIR TMPDIR=$noexec HOME=$work/home "$work/setup" 4 >"$work/out" \
  2>"$work/err" || rc=$?
expect_run "noexec, cache folder" 4
nothing_in "$noexec" "noexec"
nothing_in "$work/runtime" "noexec"
nothing_in "$work/home/.cache" "noexec"

# No place at all: the runner's own folder is read-only, the others noexec or missing.
mount -t tmpfs -o size=8m isorun-own "$work/own"
cp "$work/setup" "$work/own/setup"
mount -o remount,ro "$work/own"
rc=0
TMPDIR=$noexec XDG_RUNTIME_DIR=$noexec HOME=$work/nowhere "$work/own/setup" 5 >"$work/out" \
  2>"$work/err" || rc=$?
[ "$rc" -eq 99 ] || fail "no place: exit code $rc, expected 99"
grep -qF "\"$noexec\"" "$work/err" || fail "no place: the box does not name $noexec: $(cat "$work/err")"
grep -qF 'TMPDIR=' "$work/err" || fail "no place: the box does not say how to choose: $(cat "$work/err")"
! grep -qxF 'static child ran' "$work/out" || fail "no place: the child ran"
nothing_in "$noexec" "no place"
echo "noexec temporary folder: ran from the next folder that can, nothing left behind"

finish "static runner: all checks passed"
