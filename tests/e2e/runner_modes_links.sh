#!/usr/bin/env bash
# A Linux runner made by `isorun sfx DIR` from a folder whose program calls a helper script and
# reads a library through a symbolic link: the extracted tree keeps the execute bits and the
# link (the image carries them as Rock Ridge), so the program runs and its exit code comes back.
# Windows, under Wine (skipped without a win32 build): links are not made; the runner leaves
# them out and its program runs, and the Windows tool's `isorun extract` names each one.
source "$(dirname "$0")/common.bash"
payload=$work/payload
mkdir -p "$payload/bin" "$payload/lib" "$work/tmp"
printf '#!/bin/sh\ncd "$(dirname "$0")"\n./bin/helper.sh\nexit 7\n' >"$payload/run.sh"
printf '#!/bin/sh\ncat lib/libx.so\n' >"$payload/bin/helper.sh"
chmod 755 "$payload/run.sh" "$payload/bin/helper.sh"
echo library >"$payload/lib/libx.so.1"
ln -s libx.so.1 "$payload/lib/libx.so"
"$ISORUN" sfx "$payload" -o "$work/run" --stub linux --run run.sh >/dev/null
rc=0
out=$(TMPDIR=$work/tmp "$work/run" </dev/null 2>"$work/run.err") || rc=$?
[ "$rc" -eq 7 ] || fail "exit code $rc, expected 7: $(head -c 300 "$work/run.err")"
[ "$out" = library ] || fail "the helper did not read the library through its link: '$out'"
[ -z "$(ls -A "$work/tmp")" ] || fail "left in the temporary folder: $(ls -A "$work/tmp")"
echo "linux: a program calling a helper script that reads a library through a link runs"

if [ ! -f "$WIN_BIN/isorun-sfx.exe" ] || [ ! -f "$WIN_BIN/isorun.exe" ]; then
  finish "windows: skipped (no $WIN_BIN/isorun-sfx.exe or isorun.exe)"
  exit 0
fi
export ISORUN_WINE_NO_WINDOWS=1
ln -s ../run.sh "$payload/bin/run-link"
printf '@echo off\r\ncd /d "%%~dp0"\r\nif exist lib\\libx.so exit /b 3\r\ntype lib\\libx.so.1\r\nexit /b 7\r\n' \
  >"$payload/run.cmd"
"$ISORUN" sfx "$payload" -o "$work/setup.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run run.cmd \
  --stderr >/dev/null
rc=0
out=$(cd "$work" && "$SRC/scripts/wine-run" setup.exe </dev/null 2>"$work/win.err" | tr -d '\r') || rc=$?
[ "$rc" -eq 7 ] || fail "windows runner: exit code $rc, expected 7: $(head -c 300 "$work/win.err")"
[ "$out" = library ] || fail "windows runner: the program saw '$out'"
rc=0
(cd "$work" && "$SRC/scripts/wine-run" "$WIN_BIN/isorun.exe" extract setup.exe -C out) \
  >/dev/null 2>"$work/extract.err" </dev/null || rc=$?
[ "$rc" -eq 0 ] || fail "windows isorun extract: exit code $rc: $(head -c 300 "$work/extract.err")"
for link in 'lib\libx.so' 'bin\run-link'; do
  tr -d '\r' <"$work/extract.err" | grep -qF "warning: symbolic link $link not created" ||
    fail "windows isorun extract: no warning for $link: $(head -c 300 "$work/extract.err")"
done
[ "$(cat "$work/out/lib/libx.so.1")" = library ] && [ ! -e "$work/out/lib/libx.so" ] ||
  fail "windows isorun extract: the files or the left-out link differ: $(ls -R "$work/out")"
finish "windows: links left out, the program runs, isorun extract names each link"
