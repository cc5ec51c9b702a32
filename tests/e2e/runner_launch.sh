#!/usr/bin/env bash
# The runner's child, end to end, where things go wrong or get interrupted:
#   - a program that is not in the image: exit code 99, the diagnostic line, and the box with
#     the program's full path (a Linux path, with slashes) as caption and the quoted command
#     line with code 2 as body;
#   - (Linux) SIGINT, SIGTERM and SIGHUP sent to the runner while its child runs leave it
#     waiting, and its exit code is still the child's.
# Linux only: under Wine's headless display driver the Windows runner's box waits for a button
# nobody can press; the Windows launch itself is covered by the win32 test programs.
set -euo pipefail
SRC=${ISORUN_SOURCE_DIR:?}
BIN=${ISORUN_BIN_DIR:?}
ISORUN=$BIN/isorun

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$work/payload" "$work/tmp"
# The child: says it started, waits for the go-ahead file, ends with code 42.
cat >"$work/payload/waiter" <<'EOF'
#!/bin/sh
touch "$1/started"
while [ ! -e "$1/go" ]; do sleep 0.05; done
exit 42
EOF

# ---- A program that is not there ----
"$ISORUN" sfx "$work/payload" -o "$work/missing" --stub linux --run missing.exe --stderr \
  >/dev/null 2>&1
rc=0
TMPDIR=$work/tmp "$work/missing" x "y z" 2>"$work/missing.raw" >/dev/null </dev/null || rc=$?
tr -d '\r' <"$work/missing.raw" >"$work/missing.err"
[ "$rc" -eq 99 ] || fail "missing program: exit code $rc, expected 99"
program=$(sed -n 's/^error 2 running "\(.*\)"$/\1/p' "$work/missing.err")
case "$program" in
  "$work/tmp/missing-"[0-9]*/missing.exe) ;;
  *) fail "missing program: no diagnostic line naming it: $(cat "$work/missing.err")" ;;
esac
grep -qxF "$program" "$work/missing.err" || fail "missing program: the box's caption is not its path"
grep -qxF "ERROR: 2 Unable to execute command \"\"$program\" x \"y z\"\"." "$work/missing.err" ||
  fail "missing program: the box's text: $(cat "$work/missing.err")"
[ -z "$(ls -A "$work/tmp")" ] || fail "missing program: left in the temporary folder"

# ---- Signals while the child runs ----
"$ISORUN" sfx "$work/payload" -o "$work/setup" --stub linux --run waiter --stderr >/dev/null 2>&1
mkdir -p "$work/signals"
TMPDIR=$work/tmp "$work/setup" "$work/signals" </dev/null >/dev/null 2>"$work/signals.err" &
runner=$!
while [ ! -e "$work/signals/started" ] && kill -0 "$runner" 2>/dev/null; do sleep 0.05; done
if [ ! -e "$work/signals/started" ]; then
  rc=0
  wait "$runner" || rc=$?
  sed -i 's/\r$//' "$work/signals.err"
  # Until the runner extracts its image, the program is not there to start.
  if [ "$rc" -eq 99 ] && grep -q '^error 2 running .*waiter"$' "$work/signals.err"; then
    echo "signals: skipped (this runner does not extract its image yet)"
  else
    fail "signals: the child never started (runner exit code $rc: $(head -c 300 "$work/signals.err"))"
  fi
else
  kill -INT "$runner"
  kill -TERM "$runner"
  kill -HUP "$runner"
  touch "$work/signals/go"
  rc=0
  wait "$runner" || rc=$?
  [ "$rc" -eq 42 ] || fail "signals: exit code $rc, expected the child's 42"
fi
[ -z "$(ls -A "$work/tmp")" ] || fail "signals: left in the temporary folder"
echo "linux runner: missing program box and code, signals while the child runs"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "runner launch end to end: all checks passed"
