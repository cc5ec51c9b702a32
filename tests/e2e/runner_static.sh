#!/usr/bin/env bash
# The Linux runner vendors ship (isorun-sfx-static), which `isorun sfx --stub linux` takes:
#   - `file` calls it statically linked and stripped, it has no dynamic section, and it is at
#     most 1.5 MiB;
#   - (root) chrooted into an otherwise empty root, with no /proc and a static program as its
#     payload, it extracts, runs the program and returns its exit code, leaving /tmp empty;
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
  echo "empty root check: skipped (it needs root for chroot)"
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

finish "static runner: all checks passed"
