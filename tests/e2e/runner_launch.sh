#!/usr/bin/env bash
# The runner's child, end to end, where things go wrong or get interrupted:
#   - a program that is not in the image: exit code 99, the diagnostic line, and the box with
#     the program's full path (a Linux path, with slashes) as caption and the quoted command
#     line with code 2 as body;
#   - (Linux) SIGINT, SIGTERM and SIGHUP sent to the runner while its child runs leave it
#     waiting, and its exit code is still the child's;
#   - (Linux) Ctrl-C at a terminal, SIGINT to the whole process group: the child gets it, the
#     runner waits for it, removes its temporary directory and exits with the child's code
#     (128 + 2 for a child the signal ended);
#   - (Linux) SIGINT while the runner is still extracting: the program is never started, the
#     runner removes what it extracted and exits with 99;
#   - (Linux) a runner started with SIGCHLD ignored still returns its child's exit code.
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
# The child that answers Ctrl-C itself: exit code 7.
cat >"$work/payload/interruptible" <<'EOF'
#!/bin/sh
trap 'exit 7' INT
touch "$1/started"
while :; do sleep 0.05; done
EOF

# started DIR PID: waits (30 s at most) until the child has made DIR/started, or the runner ended.
started() {
  local tries=600
  while [ ! -e "$1/started" ] && kill -0 "$2" 2>/dev/null && [ $((tries -= 1)) -gt 0 ]; do sleep 0.05; done
  [ -e "$1/started" ]
}

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
if ! started "$work/signals" "$runner"; then
  rc=0
  wait "$runner" || rc=$?
  sed -i 's/\r$//' "$work/signals.err"
  fail "signals: the child never started (runner exit code $rc: $(head -c 300 "$work/signals.err"))"
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

# ---- A caller that ignores SIGCHLD ----
# The ignored disposition survives exec into the runner; its child's exit code must still
# come back instead of 0.
mkdir -p "$work/five"
printf '#!/bin/sh\nexit 5\n' >"$work/five/five"
"$ISORUN" sfx "$work/five" -o "$work/five-setup" --stub linux --run five >/dev/null 2>&1
rc=0
TMPDIR=$work/tmp python3 -c 'import os, signal, sys
signal.signal(signal.SIGCHLD, signal.SIG_IGN)
os.execv(sys.argv[1], sys.argv[1:])' "$work/five-setup" </dev/null >/dev/null 2>&1 || rc=$?
[ "$rc" -eq 5 ] || fail "ignored SIGCHLD: exit code $rc, expected the child's 5"
[ -z "$(ls -A "$work/tmp")" ] || fail "ignored SIGCHLD: left in the temporary folder"

# ---- Ctrl-C: SIGINT to the runner's process group, as a terminal sends it ----
"$ISORUN" sfx "$work/payload" -o "$work/interruptible" --stub linux --run interruptible >/dev/null 2>&1
for run in interruptible:7 setup:130; do
  runner_file=${run%%:*} want=${run##*:}
  mkdir -p "$work/ctrl-c-$runner_file"
  set -m  # the runner in a process group of its own, like a terminal's foreground job
  TMPDIR=$work/tmp "$work/$runner_file" "$work/ctrl-c-$runner_file" </dev/null >/dev/null 2>&1 &
  runner=$!
  set +m
  if started "$work/ctrl-c-$runner_file" "$runner"; then
    kill -INT -- "-$runner"
    rc=0
    wait "$runner" || rc=$?
    [ "$rc" -eq "$want" ] || fail "ctrl-c ($runner_file): exit code $rc, expected $want"
  else
    kill -KILL -- "-$runner" 2>/dev/null || true
    fail "ctrl-c ($runner_file): the child never started"
  fi
  [ -z "$(ls -A "$work/tmp")" ] || fail "ctrl-c ($runner_file): left in the temporary folder"
done
# ---- Ctrl-C before the program has started ----
# 64 MiB of random bytes make the extraction long enough to be interrupted once the temporary
# directory appears; on a machine that extracts faster than that, the check says so.
if command -v xorriso >/dev/null; then
  mkdir -p "$work/cancel-payload" "$work/cancel"
  printf '#!/bin/sh\ntouch "$1/started"\nexit 42\n' >"$work/cancel-payload/quick"
  head -c 64M /dev/urandom >"$work/cancel-payload/big.bin"
  xorriso -as mkisofs -J -quiet -o "$work/cancel.iso" "$work/cancel-payload" 2>/dev/null
  "$ISORUN" pack "$work/cancel.iso" -o "$work/cancel.ciso" --compression none >/dev/null
  "$ISORUN" sfx "$work/cancel.ciso" -o "$work/cancel-setup" --stub linux --run quick --stderr >/dev/null
  rc=0
  # Prints "early" when the interrupt came before the 64 MiB were all written.
  python3 - "$work/cancel-setup" "$work/tmp" "$work/cancel" >"$work/cancel.when" 2>"$work/cancel.err" <<'EOF' || rc=$?
import os, signal, subprocess, sys, time
setup, tmp, marker_dir = sys.argv[1:]
runner = subprocess.Popen([setup, marker_dir], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          env=dict(os.environ, TMPDIR=tmp))
deadline = time.monotonic() + 30
while not os.listdir(tmp) and runner.poll() is None and time.monotonic() < deadline:
    time.sleep(0.001)
def size(path):
    try:
        return os.path.getsize(path)
    except OSError:  # gone: the run is over
        return 1 << 40
written = sum(size(os.path.join(d, f)) for d, _, files in os.walk(tmp) for f in files)
runner.send_signal(signal.SIGINT)
print("early" if written < 64 << 20 else "late")
sys.exit(runner.wait(timeout=120))
EOF
  if [ -e "$work/cancel/started" ] && [ "$(cat "$work/cancel.when")" != early ]; then
    echo "ctrl-c while extracting: skipped (the extraction ended before the interrupt came)"
  else
    [ "$rc" -eq 99 ] || fail "ctrl-c while extracting: exit code $rc, expected 99"
    grep -q '^interrupted, not starting the program' "$work/cancel.err" ||
      fail "ctrl-c while extracting: no diagnostic line: $(head -c 300 "$work/cancel.err")"
  fi
  [ -z "$(ls -A "$work/tmp")" ] || fail "ctrl-c while extracting: left in the temporary folder"
fi
echo "linux runner: missing program box and code, signals while the child runs, ignored SIGCHLD, Ctrl-C, Ctrl-C while extracting"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "runner launch end to end: all checks passed"
