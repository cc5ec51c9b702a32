#!/usr/bin/env bash
# The progress a user sees while a runner made with --progress verifies and extracts, end to end.
#
# Linux: the runner draws its one-line bar on a terminal (a pseudo-terminal) once a step has run
# for a second, and clears it before its program writes anything; with standard error in a file
# it draws nothing. The runner is stopped for a while with SIGSTOP so that its step is slow: the
# verify of a runner made with --verify too, the extraction (of an image with 48 MiB of data) of
# one made with --progress alone, also in German (LANG=de_DE.UTF-8).
#
# Windows, under Xvfb and Wine: the same runners open their dialog. During a slow verify its
# picture is saved as screenshots/verify_dialog.png in the build tree, and Skip (sent as a
# message) stops the verify and the runner still runs its program; again with the user's
# language German (verify_dialog_deu.png). During a slow extraction (extract_dialog.png, and
# extract_dialog_deu.png in German) Cancel ends the run with 99, with no program started and no
# run directory left. Without --progress, and for a tiny image, no window shows. The verify
# image carries 64 MiB of random bytes behind its file system, which extraction never reads, and
# one byte near its end is damaged after packing: a verify that is not stopped fails there and
# the runner exits with 99 instead of the program's code. The Windows side of the test is
# ProgressScreenshot in the win32 test_runner.exe, which drives the runner.
source "$(dirname "$0")/common.bash"

# make_image DIR PROGRAM [big]: an ISO image of a folder holding PROGRAM, with the random tail;
# "big" puts 48 MiB of data beside the program instead, which extraction writes.
make_image() {
  mkdir -p "$1/payload"
  cp "$2" "$1/payload/"
  [ "${3:-}" != big ] || head -c 48M /dev/urandom >"$1/payload/data.bin"
  xorriso -as mkisofs -J -quiet -o "$1/image.iso" "$1/payload" 2>/dev/null
  [ "${3:-}" = big ] || head -c 64M /dev/urandom >>"$1/image.iso"
  "$ISORUN" pack "$1/image.iso" -o "$1/image.ciso" --compression none --hash sha256 >/dev/null
}

if ! command -v xorriso >/dev/null; then
  echo "progress: skipped (needs xorriso)"
  exit 0
fi

# ---- Linux: the line ----
make_image "$work/linux" "$BIN/autorun"
"$ISORUN" sfx "$work/linux/image.ciso" -o "$work/linux/setup" --stub linux --run autorun \
  --verify --progress >/dev/null
make_image "$work/linux-big" "$BIN/autorun" big
"$ISORUN" sfx "$work/linux-big/image.ciso" -o "$work/linux-big/setup" --stub linux \
  --run autorun --progress >/dev/null
mkdir -p "$work/tmp"

# stopped_run SETUP WHEN OUT [STDERR]: runs the runner with --exit=7 and TMPDIR=$work/tmp, its
# standard output and error on a pseudo-terminal (standard error in the file STDERR when given),
# stopped for 2.5 s (past both times of the show rule) as soon as WHEN: "opened" (it has opened
# its own file as the image, just before its verify) or "extracting" (its run directory exists).
# The terminal's bytes go to OUT. (A blind delay lost that race under load, stopping the runner
# before its clock ran.)
stopped_run() {
  local rc=0
  TMPDIR=$work/tmp python3 - "$@" <<'EOF' || rc=$?
import os, pty, signal, subprocess, sys, time
setup, when, out = sys.argv[1:4]
master, slave = pty.openpty()
stderr = open(sys.argv[4], "wb") if len(sys.argv) > 4 else slave
runner = subprocess.Popen([setup, "--exit=7"], stdin=subprocess.DEVNULL, stdout=slave,
                          stderr=stderr)
os.close(slave)
itself = os.path.realpath(setup)
def opened_itself():
    try:
        fds = os.listdir(f"/proc/{runner.pid}/fd")
        return any(os.readlink(f"/proc/{runner.pid}/fd/{fd}") == itself for fd in fds)
    except OSError:  # a descriptor closed while looked at
        return False
def extracting():
    return any(os.scandir(os.environ["TMPDIR"]))
ready = opened_itself if when == "opened" else extracting
deadline = time.monotonic() + 60
while not ready() and runner.poll() is None and time.monotonic() < deadline:
    time.sleep(0.0005)
runner.send_signal(signal.SIGSTOP)
time.sleep(2.5)
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
open(out, "wb").write(seen)
sys.exit(runner.wait(timeout=120))
EOF
  [ "$rc" -eq 7 ] || fail "linux: the runner's exit code was $rc, not its program's 7"
  [ -z "$(ls -A "$work/tmp")" ] || fail "linux: a run directory was left in $work/tmp"
}

# expect_line FILE LABEL: the terminal got the line labelled LABEL, and after its last drawing
# the line was cleared before the program's first output.
expect_line() {
  local line
  line=$(tr '\r' '\n' <"$1" | grep -a "$2 \[" | head -1 || true)
  [[ "$line" =~ $2\ \[[#.]{30}\]\ +[0-9]+%\ .+\ \ 0:00:0[0-9]\.[0-9]{3} ]] ||
    fail "linux: no '$2' line on the terminal: $(cat -v "$1" | head -c 600)"
  python3 - "$1" "$2" <<'EOF' || fail "linux: the '$2' line was not cleared before the program wrote"
import sys
seen, label = open(sys.argv[1], "rb").read(), sys.argv[2].encode()
hello = seen.find(b"Hello from inside the disc image.")
last_line = seen.rfind(label + b" [", 0, max(hello, 0))
sys.exit(0 if last_line >= 0 and seen.find(b"\r\x1b[K", last_line, hello) > last_line else 1)
EOF
}

stopped_run "$work/linux/setup" opened "$work/linux/terminal"
expect_line "$work/linux/terminal" "Verifying Media"
stopped_run "$work/linux-big/setup" extracting "$work/linux-big/terminal"
expect_line "$work/linux-big/terminal" "Preparing Setup"
LANG=de_DE.UTF-8 stopped_run "$work/linux-big/setup" extracting "$work/linux-big/terminal-deu"
expect_line "$work/linux-big/terminal-deu" "Setup wird vorbereitet"
stopped_run "$work/linux/setup" opened "$work/linux/ignored" "$work/linux/stderr"
stopped_run "$work/linux-big/setup" extracting "$work/linux-big/ignored" "$work/linux-big/stderr"
for file in "$work/linux/stderr" "$work/linux-big/stderr"; do
  [ ! -s "$file" ] || fail "linux: progress bytes went to a file: $(cat -v "$file" | head -c 300)"
done
echo "linux: the progress lines are drawn on a terminal, cleared before the program writes, and kept out of files"

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

# Runners over an image with 48 MiB of data to extract: with --progress, without it; and one
# with --progress over a tiny image.
make_image "$work/big" "$WIN_BIN/autorun.exe" big
"$ISORUN" sfx "$work/big/image.ciso" -o "$work/extract.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
  --run autorun.exe --progress >/dev/null
"$ISORUN" sfx "$work/big/image.ciso" -o "$work/quiet.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
  --run autorun.exe >/dev/null
mkdir -p "$work/tiny"
cp "$WIN_BIN/autorun.exe" "$work/tiny/"
"$ISORUN" sfx "$work/tiny" -o "$work/tiny.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
  --run autorun.exe --progress >/dev/null

shots=$BIN/../screenshots
mkdir -p "$shots"

# shot NAME TEST [VAR=VALUE...]: runs the dialog test TEST (see
# tests/runner/win32/progress_screenshot_test.cpp) with the given settings, saving its picture
# as $shots/NAME.png.
shot() {
  local name=$1 test=$2 rc=0
  shift 2
  rm -f "$shots/$name.png"
  # A prefix of its own: windows there go to the X display, whatever other tests run meanwhile.
  env "$@" ISORUN_WINEPREFIX="$BIN/../wine-display" ISORUN_SCREENSHOT_PNG="$shots/$name.png" \
    ISORUN_SCREENSHOT_EXIT=7 \
    xvfb-run -a -s "-screen 0 800x600x24" "$SRC/scripts/wine-run" "$WIN_BIN/test_runner.exe" \
    --gtest_filter="ProgressScreenshot.$test" >"$work/$name.log" 2>&1 || rc=$?
  grep -q '^\[  PASSED  \] 1 test' "$work/$name.log" && ! grep -q SKIPPED "$work/$name.log" &&
    [ "$rc" -eq 0 ] ||
    fail "$name: the dialog test failed (exit $rc): $(grep -E 'Failure|error|FAILED|SKIPPED|Expected|Which|runner' "$work/$name.log" | head -20)"
  [ "$test" = NoWindow ] || [ -s "$shots/$name.png" ] || fail "$name: no picture was saved"
}

verify=(ISORUN_SCREENSHOT_RUNNER="$work/setup.exe")
cancel=(ISORUN_SCREENSHOT_RUNNER="$work/extract.exe" ISORUN_SCREENSHOT_TEMP="$work/temp")
mkdir -p "$work/temp"
shot verify_dialog DialogShowsAndSkipLetsTheProgramRun "${verify[@]}"
shot extract_dialog CancelStopsTheExtraction "${cancel[@]}"
shot no_window NoWindow ISORUN_NO_WINDOW_RUNNERS="$work/quiet.exe|$work/tiny.exe"
[ "$failures" -ne 0 ] || echo "windows: the dialog is shown during a slow verify and a slow extraction, pictured in $shots/verify_dialog.png and extract_dialog.png; Skip let the program run, Cancel ended the run with 99 and nothing left; no dialog without --progress or for a tiny image"

# In German, the user's language being "DEU": the texts are the shipped translation's, handed
# over in a UTF-8 locale so that Wine reads them as written.
german() { "$ISORUN" usertext "$SRC/runner/usertext.scf" --lang DEU | sed -n "s/^$1\t//p"; }
shot verify_dialog_deu DialogShowsAndSkipLetsTheProgramRun "${verify[@]}" LC_ALL=C.UTF-8 \
  ISORUN_SCREENSHOT_LANGUAGE=DEU ISORUN_SCREENSHOT_TITLE="$(german verify_title)" \
  ISORUN_SCREENSHOT_TEXT="$(german verify_text)" \
  ISORUN_SCREENSHOT_BUTTON="$(german verify_skip_button)" \
  ISORUN_SCREENSHOT_ELAPSED="$(german verify_elapsed_time)"
shot extract_dialog_deu CancelStopsTheExtraction "${cancel[@]}" LC_ALL=C.UTF-8 \
  ISORUN_SCREENSHOT_LANGUAGE=DEU ISORUN_SCREENSHOT_TITLE="$(german extract_title)" \
  ISORUN_SCREENSHOT_TEXT="$(german extract_text)" \
  ISORUN_SCREENSHOT_BUTTON="$(german extract_cancel_button)" \
  ISORUN_SCREENSHOT_ELAPSED="$(german verify_elapsed_time)"
finish "windows: with the user's language DEU the dialogs are in German, pictured in $shots/verify_dialog_deu.png and extract_dialog_deu.png"
