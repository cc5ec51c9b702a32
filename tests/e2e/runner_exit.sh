#!/usr/bin/env bash
# The built runners, end to end, as stubs with no image behind them: each fails to open its own
# file as media and must end with exit code 99 and the corrupt-media message, write the
# diagnostic line only when its USE_STDERR option is set, and leave no temporary directory.
# The Windows half runs when a win32 build exists (build/win32/bin, or ISORUN_WIN32_BIN_DIR);
# a Windows runner whose options cannot be set is a failure.
set -euo pipefail
SRC=${ISORUN_SOURCE_DIR:?}
BIN=${ISORUN_BIN_DIR:?}
WIN_BIN=${ISORUN_WIN32_BIN_DIR:-$SRC/build/win32/bin}
PATCH=$BIN/e2e_patch_option
LINE='error 11 mounting media, assuming corrupt/incomplete'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run LABEL PROGRAM...: runs the program, keeps its exit code in $rc and its stderr in $err.
run() {
  local label=$1
  shift
  rc=0
  "$@" first "second arg" 2>"$work/$label.err" >/dev/null </dev/null || rc=$?
  err=$(tr -d '\r' <"$work/$label.err")
}

expect() {  # LABEL WANT_LINE(yes|no)
  [ "$rc" -eq 99 ] || fail "$1: exit code $rc, expected 99"
  grep -q 'Media Corrupt or Incomplete' <<<"$err" || [ "$3" = nobox ] ||
    fail "$1: no corrupt-media message"
  if [ "$2" = yes ]; then
    grep -qxF "$LINE" <<<"$err" || fail "$1: no diagnostic line in: $err"
  else
    ! grep -qF 'error 11' <<<"$err" || fail "$1: diagnostic line without USE_STDERR"
  fi
}

# Linux runner.
mkdir -p "$work/tmp"
"$PATCH" "$BIN/isorun-sfx" "$work/plain"
"$PATCH" "$BIN/isorun-sfx" "$work/verbose" USE_STDERR=1 RUN_EXE=setup.exe
TMPDIR=$work/tmp run linux-plain "$work/plain"
expect linux-plain no box
TMPDIR=$work/tmp run linux-verbose "$work/verbose"
expect linux-verbose yes box
[ -z "$(ls -A "$work/tmp")" ] || fail "linux: left behind in the temporary folder: $(ls -A "$work/tmp")"
echo "linux runner: exit 99, diagnostic line with USE_STDERR only"

# Windows runner, under Wine. Its message box has no one to press OK: the Wine driver without a
# display ends it at once.
if [ ! -f "$WIN_BIN/isorun-sfx.exe" ]; then
  echo "windows runner: skipped (no $WIN_BIN/isorun-sfx.exe)"
elif ! "$PATCH" "$WIN_BIN/isorun-sfx.exe" "$work/plain.exe" USE_STDERR= 2>"$work/patch.err" ||
  ! "$PATCH" "$WIN_BIN/isorun-sfx.exe" "$work/verbose.exe" USE_STDERR=true 2>>"$work/patch.err"; then
  fail "windows runner: its options cannot be set: $(cat "$work/patch.err")"
else
  export ISORUN_WINE_NO_WINDOWS=1
  run win-plain "$SRC/scripts/wine-run" "$work/plain.exe"
  expect win-plain no nobox
  run win-verbose "$SRC/scripts/wine-run" "$work/verbose.exe"
  expect win-verbose yes nobox
  echo "windows runner: exit 99, diagnostic line with USE_STDERR only"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "runner end to end: all checks passed"
