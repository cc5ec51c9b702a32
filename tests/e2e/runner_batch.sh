#!/usr/bin/env bash
# A Windows runner whose program is a batch file (run.cmd), under Wine: cmd.exe, not the C
# run-time, parses its command line, so
#   - arguments with spaces, & | < > ^ ( ) reach the batch file literally, each in quotes, and
#     the batch file's exit code comes back;
#   - an argument holding a quote, % or ! (which cmd.exe acts on even inside quotes) or a line
#     break is refused: exit code 99, error 87, and the batch file never runs, so the command
#     such an argument carries never runs either (no pwned file appears).
# Skipped without a win32 build (build/win32/bin, or ISORUN_WIN32_BIN_DIR).
source "$(dirname "$0")/common.bash"

if [ ! -f "$WIN_BIN/isorun-sfx.exe" ]; then
  echo "batch-file runner: skipped (no $WIN_BIN/isorun-sfx.exe)"
  exit 0
fi
mkdir -p "$work/payload" "$work/cwd"
# Each argument as the batch file sees it (%1 keeps its quotes, so echo takes it literally).
printf '@echo off\r\necho 1:[%%1]\r\necho 2:[%%2]\r\necho 3:[%%3]\r\necho 4:[%%4]\r\nexit /b 5\r\n' \
  >"$work/payload/run.cmd"
"$ISORUN" sfx "$work/payload" -o "$work/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run run.cmd \
  --stderr >/dev/null
export DISPLAY= ISORUN_WINE_NO_WINDOWS=1  # the runner's box returns at once

# run LABEL ARGS...: runs the runner in $work/cwd, where an injected command would write.
run() {
  local label=$1
  shift
  rc=0
  (cd "$work/cwd" && "$SRC/scripts/wine-run" "$work/setup.exe" "$@") \
    >"$work/$label.raw" 2>"$work/$label.err" </dev/null || rc=$?
  tr -d '\r' <"$work/$label.raw" >"$work/$label.out"
  [ -z "$(ls -A "$work/cwd")" ] || fail "$label: a command ran: $(ls -A "$work/cwd")"
}

run literal "with space" 'a&b|c<d>e^f(g)h' 'x^&echo injected>pwned.txt' 'dir\'
[ "$rc" -eq 5 ] || fail "literal: exit code $rc, expected the batch file's 5 ($(head -c 300 "$work/literal.err"))"
diff <(printf '%s\n' '1:["with space"]' '2:["a&b|c<d>e^f(g)h"]' '3:["x^&echo injected>pwned.txt"]' \
  '4:["dir\"]') "$work/literal.out" >"$work/literal.diff" ||
  fail "literal: the batch file saw other arguments: $(cat "$work/literal.diff")"

for refused in 'x"&echo injected>pwned.txt' '%PATH%&echo injected>pwned.txt' \
  '!PATH!' $'two\r\necho injected>pwned.txt'; do
  run refused "ordinary" "$refused"
  [ "$rc" -eq 99 ] || fail "refused $refused: exit code $rc, expected 99"
  [ ! -s "$work/refused.out" ] || fail "refused $refused: the batch file ran: $(head -c 300 "$work/refused.out")"
  tr -d '\r' <"$work/refused.err" | grep -q '^error 87 running ".*run.cmd"$' ||
    fail "refused $refused: no error 87 line: $(head -c 300 "$work/refused.err")"
done
finish "batch-file runner: arguments literal or refused with 99, no command injected"
