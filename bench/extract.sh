#!/usr/bin/env bash
# Extraction against the tools a user would otherwise pick, on one tree in one run:
#   isorun extract of an LZMA container  vs  7z x of a .7z (LZMA, same preset)  vs  xz -dc | tar x
# the runner over the same tree with --progress against without it, both on a pseudo-terminal
# (script) where the progress line is drawn, and the runner's start-to-child latency on a tiny
# image: a Linux runner made by `isorun sfx` running the example program, against the example
# program started directly.
# A ratio above 1 means isorun is faster. Each timing is the median of $ROUNDS runs (STAT=best: the
# shortest), files warm.
#
#   bench/extract.sh [DIR...]      (default: a mix of documentation, locales and libraries)
# Environment: ISORUN_BIN (default build/host/bin), PRESET (6), ROUNDS (3), STAT (median),
# LATENCY_ROUNDS (20).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${ISORUN_BIN:-$ROOT/build/host/bin}
PRESET=${PRESET:-6}
ROUNDS=${ROUNDS:-3}
LATENCY_ROUNDS=${LATENCY_ROUNDS:-20}
[ -x "$BIN/isorun" ] || { echo "no $BIN/isorun: build the host preset first" >&2; exit 1; }
for t in xorriso xz tar 7z script; do command -v $t >/dev/null || { echo "needs $t (7z: p7zip-full)" >&2; exit 1; }; done
if [ $# -eq 0 ]; then set -- /usr/share/doc /usr/share/locale /usr/lib/x86_64-linux-gnu/perl5; fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The tree: the given folders side by side (links left out: an image holds no links here).
mkdir -p "$WORK/tree"
for d in "$@"; do cp -a "$d" "$WORK/tree/" 2>/dev/null || true; done
find "$WORK/tree" -type l -delete
cp "$BIN/autorun" "$WORK/tree/"  # the runners' program
bytes=$(du -sb "$WORK/tree" | cut -f1)
files=$(find "$WORK/tree" -type f | wc -l)

xorriso -as mkisofs -quiet -J -joliet-long -R -iso-level 3 -o "$WORK/tree.iso" "$WORK/tree" 2>/dev/null
"$BIN/isorun" pack "$WORK/tree.iso" -o "$WORK/tree.ciso" --level "$PRESET" >/dev/null
(cd "$WORK/tree" && 7z a -bd -t7z -m0=LZMA -mx="$PRESET" "$WORK/tree.7z" . >/dev/null)
(cd "$WORK/tree" && tar cf - . | xz -"$PRESET" -T1 >"$WORK/tree.tar.xz")

source "$(dirname "$0")/timing.bash"
BEFORE_EACH='rm -rf "$WORK/out" && mkdir -p "$WORK/out"'
mibs() { awk -v s="$1" -v n="$bytes" 'BEGIN { printf "%.0f", n / 1048576 / s }'; }

t_isorun=$(timed "$BIN/isorun" extract "$WORK/tree.ciso" -C "$WORK/out")
t_7z=$(timed 7z x -bd -y -o"$WORK/out" "$WORK/tree.7z")
t_xz=$(timed sh -c "xz -dc -T1 '$WORK/tree.tar.xz' | tar xf - -C '$WORK/out'")

# The runner over the tree to its program's end, showing its progress or not, in turn.
mkdir -p "$WORK/tmp"
for kind in quiet progress; do
  "$BIN/isorun" sfx "$WORK/tree.ciso" -o "$WORK/setup-$kind" --stub linux --run autorun \
    $([ $kind = quiet ] || echo --progress) >/dev/null
done
read -r t_quiet t_progress < <(TMPDIR=$WORK/tmp interleaved "script -qec $WORK/setup-quiet /dev/null" \
  "script -qec $WORK/setup-progress /dev/null")

# Start-to-child latency: a runner over a tiny image, against its program started directly.
mkdir -p "$WORK/tiny" "$WORK/tmp"
cp "$BIN/autorun" "$WORK/tiny/"
"$BIN/isorun" sfx "$WORK/tiny" -o "$WORK/setup" --stub linux --run autorun >/dev/null
t_runner=$(TMPDIR=$WORK/tmp ROUNDS=$LATENCY_ROUNDS timed "$WORK/setup")
t_direct=$(ROUNDS=$LATENCY_ROUNDS timed "$WORK/tiny/autorun")

size() { awk -v a="$(stat -c %s "$1")" -v b="$bytes" 'BEGIN { printf "%.1f%%", 100 * a / b }'; }
printf 'tree: %d MiB in %d files from %s; preset %s; %s of %s; %s cores, load %s\n' $((bytes / 1048576)) "$files" \
  "$*" "$PRESET" "${STAT:-median}" "$ROUNDS" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'sizes: container %s, 7z %s, tar.xz %s of the tree\n' "$(size "$WORK/tree.ciso")" "$(size "$WORK/tree.7z")" \
  "$(size "$WORK/tree.tar.xz")"
printf '%-44s %8s %9s %7s\n' "extract" "seconds" "MiB/s" "ratio"
printf '%-44s %8s %9s %7s\n' "isorun extract (LZMA container)" "$t_isorun" "$(mibs "$t_isorun")" ""
printf '%-44s %8s %9s %7s\n' "7z x (.7z, LZMA)" "$t_7z" "$(mibs "$t_7z")" "$(ratio "$t_7z" "$t_isorun")"
printf '%-44s %8s %9s %7s\n' "xz -dc | tar x" "$t_xz" "$(mibs "$t_xz")" "$(ratio "$t_xz" "$t_isorun")"
printf 'runner over the tree, on a terminal: %s s with --progress, %s s without (ratio %s)\n' \
  "$t_progress" "$t_quiet" "$(ratio "$t_quiet" "$t_progress")"
printf 'runner start to child end, tiny image: %s s (the program alone: %s s; %s of %s)\n' "$t_runner" \
  "$t_direct" "${STAT:-median}" "$LATENCY_ROUNDS"
