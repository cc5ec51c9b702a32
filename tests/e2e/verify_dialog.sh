#!/usr/bin/env bash
# The verify progress a user sees, end to end.
#
# Linux: a runner made with --verify and --progress draws its one-line bar on a terminal (a
# pseudo-terminal) once the verify has run for a second, and clears it after; with
# standard error in a file it draws nothing. The runner is stopped for a while with SIGSTOP so
# that its verify is slow.
#
# Windows, under Xvfb and Wine: the same runner opens its dialog during a slow verify; the
# picture of it is saved as screenshots/verify_dialog.png in the build tree; Skip (sent as a
# message) stops the verify and the runner still runs its program. Again with the user's
# language German: the dialog's texts are the shipped German ones (verify_dialog_deu.png).
# The image carries 64 MiB of random bytes behind its file system, which extraction never reads,
# and one byte near its end is damaged after packing: a verify that is not stopped fails there
# and the runner exits with 99 instead of the program's code. The Windows side of the test is
# VerifyScreenshot in the win32 test_runner.exe, which drives the runner.
source "$(dirname "$0")/common.bash"

# make_image DIR PROGRAM: an ISO image of a folder holding PROGRAM, with the random tail.
make_image() {
  mkdir -p "$1/payload"
  cp "$2" "$1/payload/"
  xorriso -as mkisofs -J -quiet -o "$1/image.iso" "$1/payload" 2>/dev/null
  head -c 64M /dev/urandom >>"$1/image.iso"
  "$ISORUN" pack "$1/image.iso" -o "$1/image.ciso" --compression none --hash sha256 >/dev/null
}

if ! command -v xorriso >/dev/null; then
  echo "verify progress: skipped (needs xorriso)"
  exit 0
fi

# ---- Linux: the line ----
make_image "$work/linux" "$BIN/autorun"
"$ISORUN" sfx "$work/linux/image.ciso" -o "$work/linux/setup" --stub linux --run autorun \
  --verify --progress >/dev/null
# The runner with its standard error on a pseudo-terminal, stopped for 1.5 s as soon as it has
# opened its own file as the image, just before its verify (a blind delay lost that race under
# load, stopping the runner before its verify clock ran).
rc=0
python3 - "$work/linux/setup" "$work/linux/terminal" <<'EOF' || rc=$?
import os, pty, signal, subprocess, sys, time
master, slave = pty.openpty()
runner = subprocess.Popen([sys.argv[1], "--exit=7"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=slave)
os.close(slave)
setup = os.path.realpath(sys.argv[1])
def opened_itself():
    try:
        fds = os.listdir(f"/proc/{runner.pid}/fd")
        return any(os.readlink(f"/proc/{runner.pid}/fd/{fd}") == setup for fd in fds)
    except OSError:  # a descriptor closed while looked at
        return False
deadline = time.monotonic() + 60
while not opened_itself() and runner.poll() is None and time.monotonic() < deadline:
    time.sleep(0.0005)
runner.send_signal(signal.SIGSTOP)
time.sleep(1.5)
runner.send_signal(signal.SIGCONT)
seen = b""
while True:
    try:
        chunk = os.read(master, 65536)
    except OSError:  # the terminal's last writer has gone
        break
    if not chunk:
        break
    seen += chunk
open(sys.argv[2], "wb").write(seen)
sys.exit(runner.wait(timeout=120))
EOF
[ "$rc" -eq 7 ] || fail "linux: the runner's exit code was $rc, not its program's 7"
line=$(tr '\r' '\n' <"$work/linux/terminal" | grep -a 'Verifying Media \[' | head -1 || true)
[[ "$line" =~ Verifying\ Media\ \[[#.]{30}\]\ +[0-9]+%\ Elapsed\ time:\ \ 0:00:0[0-9]\.[0-9]{3} ]] ||
  fail "linux: no progress line on the terminal: $(cat -v "$work/linux/terminal" | head -c 600)"
grep -qa $'\r\e\[K' "$work/linux/terminal" || fail "linux: the line was not cleared"
"$work/linux/setup" --exit=7 >/dev/null 2>"$work/linux/stderr" || true
grep -qa 'Verifying Media' "$work/linux/stderr" && fail "linux: a progress line went to a file"
echo "linux: the progress line is drawn on a terminal and cleared, and kept out of files"

# ---- Windows: the dialog ----
for needed in isorun-sfx.exe autorun.exe test_runner.exe; do
  if [ ! -f "$WIN_BIN/$needed" ]; then
    finish "windows: skipped (no $WIN_BIN/$needed)"
    exit 0
  fi
done
command -v xvfb-run >/dev/null || { finish "windows: skipped (no xvfb-run)"; exit 0; }
make_image "$work" "$WIN_BIN/autorun.exe"
"$ISORUN" sfx "$work/image.ciso" -o "$work/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
  --run autorun.exe --verify --progress >/dev/null

# The blocks' stored bytes follow each other from the start of the data stream: damage the last.
info=$("$ISORUN" info "$work/setup.exe")
start=$(sed -n 's/.*part 0: .*bytes \([0-9]*\)-.*/\1/p' <<<"$info")
stored=$(sed -n 's/^stored: *\([0-9]*\) bytes.*/\1/p' <<<"$info")
[ -n "$start" ] && [ -n "$stored" ] || { echo "FAIL: cannot read the container's layout: $info"; exit 1; }
python3 - "$work/setup.exe" $((start + stored - 4096)) <<'EOF'
import sys
with open(sys.argv[1], "r+b") as f:
    f.seek(int(sys.argv[2]))
    byte = f.read(1)
    f.seek(int(sys.argv[2]))
    f.write(bytes([byte[0] ^ 0xFF]))
EOF

shots=$BIN/../screenshots
mkdir -p "$shots"

# shot NAME [VAR=VALUE...]: runs the dialog test on the runner with the given settings (see
# tests/runner/win32/verify_screenshot_test.cpp), saving its picture as $shots/NAME.png.
shot() {
  local name=$1 rc=0
  shift
  rm -f "$shots/$name.png"
  # A prefix of its own: windows there go to the X display, whatever other tests run meanwhile.
  env "$@" ISORUN_WINEPREFIX="$BIN/../wine-display" \
    ISORUN_SCREENSHOT_RUNNER="$work/setup.exe" ISORUN_SCREENSHOT_PNG="$shots/$name.png" \
    ISORUN_SCREENSHOT_EXIT=7 \
    xvfb-run -a -s "-screen 0 800x600x24" "$SRC/scripts/wine-run" "$WIN_BIN/test_runner.exe" \
    --gtest_filter='VerifyScreenshot.*' >"$work/$name.log" 2>&1 || rc=$?
  grep -q '^\[  PASSED  \] 1 test' "$work/$name.log" && [ "$rc" -eq 0 ] ||
    fail "$name: the dialog test failed (exit $rc): $(grep -E 'Failure|error|FAILED|Expected|Which|runner' "$work/$name.log" | head -20)"
  [ -s "$shots/$name.png" ] || fail "$name: no picture was saved"
}

shot verify_dialog
[ "$failures" -ne 0 ] || echo "windows: the dialog is shown during a slow verify, pictured in $shots/verify_dialog.png, Skip stopped the verify and the program ran"

# In German, the user's language being "DEU": the texts are the shipped translation's, handed
# over in a UTF-8 locale so that Wine reads them as written.
german() { "$ISORUN" usertext "$SRC/runner/usertext.scf" --lang DEU | sed -n "s/^$1\t//p"; }
shot verify_dialog_deu LC_ALL=C.UTF-8 ISORUN_SCREENSHOT_LANGUAGE=DEU \
  ISORUN_SCREENSHOT_TITLE="$(german verify_title)" ISORUN_SCREENSHOT_SKIP="$(german verify_skip_button)" \
  ISORUN_SCREENSHOT_ELAPSED="$(german verify_elapsed_time)"
finish "windows: with the user's language DEU the dialog is in German, pictured in $shots/verify_dialog_deu.png"
