#!/usr/bin/env bash
# Runners made by `isorun sfx` from a folder, end to end: the example program inside prints the
# arguments it received (argv on Linux, CommandLineToArgvW on Windows) and exits with the code
# it is given. Checked on Linux, and on Windows under Wine when a win32 build exists
# (build/win32/bin, or ISORUN_WIN32_BIN_DIR):
#   - arguments with spaces, tabs, quotes, trailing backslashes, empty ones and non-ASCII arrive
#     exactly (on Linux argument 0 is the program's path with slashes); exit codes 0, 99 and
#     255 come back; standard input, output and error reach the child; the temporary
#     directory is gone afterwards;
#   - split runners with their part files beside them run;
#   - (Windows) a runner signed with osslsigncode after `isorun sfx` verifies and still runs;
#   - (Windows) Ctrl-C (SIGINT, which Wine makes a console control event) leaves the runner
#     waiting for its child; the child's code comes back and the temporary folder goes.
source "$(dirname "$0")/common.bash"

ARGS=(plain "with space" $'with\ttab' 'with "quotes"' 'trailing\' 'two\\' '' 'ünïcödé' 'a\"b')
# What the child prints for ARGS: control characters as \xNN, everything else as it is.
expected_arguments() {
  local i=1 arg
  for arg in "${ARGS[@]}" "$@"; do
    printf 'argument %d: [%s]\n' "$i" "${arg//$'\t'/\\x09}"
    i=$((i + 1))
  done
}

payload=$work/payload
mkdir -p "$payload/docs"
cp "$BIN/autorun" "$payload/autorun"
echo "read me" >"$payload/docs/readme.txt"
head -c 100000 /dev/urandom >"$payload/docs/random.bin"  # incompressible: the split runners get parts

# run_case LABEL EXIT_WANTED RUNNER...: runs the runner with ARGS and --exit=EXIT_WANTED, feeding
# standard input, and checks what the child printed and returned.
run_case() {
  local label=$1 want=$2 rc=0
  shift 2
  printf 'from stdin\n' | "$@" "${ARGS[@]}" "--exit=$want" "--stderr=to stderr" --stdin \
    >"$work/$label.out" 2>"$work/$label.err" || rc=$?
  tr -d '\r' <"$work/$label.out" >"$work/$label.txt"
  [ "$rc" -eq "$want" ] || fail "$label: exit code $rc, expected $want ($(head -c 300 "$work/$label.err"))"
  diff <(expected_arguments "--exit=$want" "--stderr=to stderr" --stdin) <(grep '^argument ' "$work/$label.txt") \
    >"$work/$label.diff" || fail "$label: arguments differ: $(cat "$work/$label.diff")"
  grep -qxF 'stdin: [from stdin' "$work/$label.txt" || fail "$label: standard input did not reach the child"
  tr -d '\r' <"$work/$label.err" | grep -qxF 'to stderr' || fail "$label: standard error did not reach the child"
}

# ---- Linux ----
mkdir -p "$work/tmp"
"$ISORUN" sfx "$payload" -o "$work/setup" --stub linux --run autorun >/dev/null
for code in 0 99 255; do
  TMPDIR=$work/tmp run_case "linux-$code" "$code" "$work/setup"
done
grep -q '^files beside it: autorun docs$' "$work/linux-0.txt" || fail "linux: the extracted tree: $(grep beside "$work/linux-0.txt")"
grep -q "^program: $work/tmp/setup-[0-9]*/autorun\$" "$work/linux-0.txt" ||
  fail "linux: the child's argument 0 is not the program's Linux path: $(grep '^program' "$work/linux-0.txt")"
[ -z "$(ls -A "$work/tmp")" ] || fail "linux: left in the temporary folder: $(ls -A "$work/tmp")"

# A program to run from outside the image is refused before anything is written.
for run in ../evil /bin/sh 'C:\\evil.exe' 'docs/../../evil'; do
  rc=0
  "$ISORUN" sfx "$payload" -o "$work/evil" --stub linux --run "$run" >/dev/null 2>&1 || rc=$?
  [ "$rc" -eq 2 ] && [ ! -e "$work/evil" ] || fail "sfx --run $run: exit code $rc, or a runner was written"
done

mkdir -p "$work/split"
"$ISORUN" sfx "$payload" -o "$work/split/setup" --stub linux --run autorun --split 16K --level 0 >/dev/null
[ -f "$work/split/setup.002" ] || fail "linux split: expected part files beside the runner"
TMPDIR=$work/tmp run_case linux-split 7 "$work/split/setup"
[ -z "$(ls -A "$work/tmp")" ] || fail "linux split: left in the temporary folder"
echo "linux runner: arguments, exit codes, standard handles, clean-up and part files checked"

# ---- Windows, under Wine ----
if [ ! -f "$WIN_BIN/isorun-sfx.exe" ] || [ ! -f "$WIN_BIN/autorun.exe" ]; then
  echo "windows runner: skipped (no $WIN_BIN/isorun-sfx.exe and autorun.exe)"
else
  export DISPLAY=
  WINE="$SRC/scripts/wine-run"
  cp "$WIN_BIN/autorun.exe" "$payload/autorun.exe"
  "$ISORUN" sfx "$payload" -o "$work/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe >/dev/null
  for code in 0 99 255; do
    run_case "win-$code" "$code" "$WINE" "$work/setup.exe"
  done
  # The child reports its own folder; the runner must have removed it.
  program=$(sed -n 's/^program: //p' "$work/win-0.txt")
  unix_dir=$(WINEDEBUG=-all "$WINE" winepath.exe -u "${program%\\*}" 2>/dev/null | tr -d '\r' || true)
  [ -n "$unix_dir" ] && [ ! -e "$unix_dir" ] || fail "windows: the temporary folder '$unix_dir' is still there"

  # Ctrl-C: Wine turns SIGINT into a console control event. The runner's handler keeps it
  # waiting; its child, reading standard input, ends when that closes, and its code comes back.
  mkfifo "$work/win-fifo"
  set -m
  "$WINE" "$work/setup.exe" --stdin --exit=6 <"$work/win-fifo" >"$work/win-int.out" 2>/dev/null &
  runner=$!
  set +m
  exec 3>"$work/win-fifo"
  tries=600
  until grep -q '^stdin: \[' "$work/win-int.out" || [ $((tries -= 1)) -eq 0 ]; do sleep 0.05; done
  kill -INT "$runner"
  sleep 1  # the runner's handler has its turn while the child still waits
  exec 3>&-
  rc=0
  wait "$runner" || rc=$?
  [ "$rc" -eq 6 ] || fail "windows ctrl-c: exit code $rc, expected the child's 6"
  program=$(sed -n 's/^program: //p' "$work/win-int.out" | tr -d '\r')
  unix_dir=$(WINEDEBUG=-all "$WINE" winepath.exe -u "${program%\\*}" 2>/dev/null | tr -d '\r' || true)
  [ -n "$unix_dir" ] && [ ! -e "$unix_dir" ] || fail "windows ctrl-c: the temporary folder '$unix_dir' is still there"

  mkdir -p "$work/winsplit"
  "$ISORUN" sfx "$payload" -o "$work/winsplit/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe \
    --split 64K --level 0 >/dev/null
  run_case win-split 3 "$WINE" "$work/winsplit/setup.exe"

  if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=isorun throw-away test signer' \
      -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "isorun test" \
      -in "$work/setup.exe" -out "$work/signed.exe" >/dev/null
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/signed.exe" >"$work/verify.txt" 2>&1 ||
      fail "signed: osslsigncode verify rejects it: $(tail -3 "$work/verify.txt")"
    run_case win-signed 5 "$WINE" "$work/signed.exe"
  else
    echo "signed runner: skipped (needs osslsigncode and openssl)"
  fi
  echo "windows runner: arguments, exit codes, standard handles, clean-up, Ctrl-C, part files and signing checked"
fi

finish "runners from isorun sfx: all checks passed"
