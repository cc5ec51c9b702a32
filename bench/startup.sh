#!/usr/bin/env bash
# Start-up cost of the runner: a runner over a tiny image (one small program) from start to the
# end of its child, against that program started directly, in the same run. Lines for the
# shipped static Linux runner, the development runner (dynamic, with debug information) and,
# for information, the Windows runner under Wine against its program under Wine. The Linux
# runners' rounds alternate with rounds of the program alone. The overhead is the runner's
# median minus the program's; the ratio is runner / program. The CPU columns give
# user + system time per run (children included), which waiting for a busy machine's cores does
# not inflate.
#
# The Linux runner lines come twice: with the run directory in the temporary folder (TMPDIR in
# the benchmark's own directory under /tmp), and in a tmpfs (TMPFS, default /dev/shm, when it
# lets programs run). The runner creates two inodes a run; where /tmp is an ext4 without a
# journal, each new inode is checked against every one deleted in the last seconds, so the
# benchmark's own earlier runs slow each creation down, which one run on its own never sees.
#
#   bench/startup.sh
# Environment: ISORUN_BIN (default build/host/bin), ISORUN_WIN32_BIN (default build/win32/bin),
# ROUNDS (31), WINE_ROUNDS (5), STAT (median), TMPFS (/dev/shm).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${ISORUN_BIN:-$ROOT/build/host/bin}
WIN_BIN=${ISORUN_WIN32_BIN:-$ROOT/build/win32/bin}
ROUNDS=${ROUNDS:-31}
export DIGITS=5
WINE_ROUNDS=${WINE_ROUNDS:-5}
[ -x "$BIN/isorun" ] || { echo "no $BIN/isorun: build the host preset first" >&2; exit 1; }
source "$(dirname "$0")/timing.bash"

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/tiny" "$WORK/tmp"
cp "$BIN/autorun" "$WORK/tiny/autorun"
export TMPDIR=$WORK/tmp

ms() { awk -v s="$1" 'BEGIN { printf "%.2f", s * 1000 }'; }
# cpu COMMAND...: user + system seconds per run over $ROUNDS runs.
cpu() {
  local TIMEFORMAT='%3U %3S' t
  t=$({ time (for _ in $(seq "$ROUNDS"); do "$@" >/dev/null 2>&1; done); } 2>&1)
  awk -v t="$t" -v n="$ROUNDS" 'BEGIN { split(t, a, " "); printf "%.5f", (a[1] + a[2]) / n }'
}
# paired A B: the medians (or, with STAT=best, the shortest) of A's and of B's times in seconds
# over $ROUNDS rounds that each run B, then A: on a shared machine both meet the same load.
paired() {
  local stamps=() t0 t1 t2
  for _ in $(seq "$ROUNDS"); do
    t0=$EPOCHREALTIME
    "$2" >/dev/null 2>&1
    t1=$EPOCHREALTIME
    "$1" >/dev/null 2>&1
    t2=$EPOCHREALTIME
    stamps+=("$t0 $t1 $t2")
  done
  printf '%s\n' "${stamps[@]}" | awk -v stat="${STAT:-median}" '
    function pick(v, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
        t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
      }
      return stat == "best" ? v[1] : n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    { gsub(",", "."); b[NR] = $2 - $1; a[NR] = $3 - $2 }
    END { printf "%.6f %.6f\n", pick(a, NR), pick(b, NR) }'
}
# line LABEL RUNNER_SECONDS PROGRAM_SECONDS [RUNNER_CPU PROGRAM_CPU]
line() {
  printf '%-40s %9s %9s %9s %7s %9s %9s\n' "$1" "$(ms "$2")" "$(ms "$3")" \
    "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", (a - b) * 1000 }')" "$(ratio "$2" "$3")" \
    "$([ -n "${4:-}" ] && ms "$4" || echo -)" "$([ -n "${5:-}" ] && ms "$5" || echo -)"
}

printf '%s of %s runs; %s cores, load %s\n' "${STAT:-median}" "$ROUNDS" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %9s %9s %9s %7s %9s %9s\n' "runner over a tiny image" "runner ms" "alone ms" \
  "overhead" "ratio" "cpu ms" "alone cpu"
c_alone=$(cpu "$WORK/tiny/autorun")
for stub in isorun-sfx-static isorun-sfx; do
  [ -f "$BIN/$stub" ] || continue
  "$BIN/isorun" sfx "$WORK/tiny" -o "$WORK/$stub.run" --stub "$BIN/$stub" --run autorun >/dev/null
done
# runner_lines SUFFIX: a line for each runner, run directories in $TMPDIR.
runner_lines() {
  for stub in isorun-sfx-static isorun-sfx; do
    [ -f "$WORK/$stub.run" ] || continue
    read -r t_runner t_alone < <(paired "$WORK/$stub.run" "$WORK/tiny/autorun")
    line "$stub$1" "$t_runner" "$t_alone" "$(cpu "$WORK/$stub.run")" "$c_alone"
  done
}
runner_lines ""
TMPFS=${TMPFS:-/dev/shm}
if [ -d "$TMPFS" ] && [ "$(stat -f -c %T "$TMPFS")" = tmpfs ] &&
  ! findmnt -n -o OPTIONS --target "$TMPFS" | grep -qw noexec; then
  shm=$(mktemp -d "$TMPFS/startup.XXXXXX")
  trap 'rm -rf "$WORK" "$shm"' EXIT
  TMPDIR=$shm runner_lines ", run dir on tmpfs"
fi

if [ -f "$WIN_BIN/isorun-sfx.exe" ] && [ -f "$WIN_BIN/autorun.exe" ]; then
  mkdir -p "$WORK/tiny-win"
  cp "$WIN_BIN/autorun.exe" "$WORK/tiny-win/autorun.exe"
  "$BIN/isorun" sfx "$WORK/tiny-win" -o "$WORK/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
    --run autorun.exe >/dev/null
  export ISORUN_WINE_NO_WINDOWS=1
  t_alone=$(ROUNDS=$WINE_ROUNDS timed "$ROOT/scripts/wine-run" "$WORK/tiny-win/autorun.exe")
  t_runner=$(ROUNDS=$WINE_ROUNDS timed "$ROOT/scripts/wine-run" "$WORK/setup.exe")
  line "isorun-sfx.exe under Wine ($WINE_ROUNDS runs)" "$t_runner" "$t_alone"
fi
for stub in isorun-sfx-static isorun-sfx; do
  [ ! -f "$BIN/$stub" ] || printf '%s: %s bytes\n' "$stub" "$(stat -c %s "$BIN/$stub")"
done
