#!/usr/bin/env bash
# A Linux runner made by `isorun sfx DIR` from a folder whose program calls a helper script and
# reads a library through a symbolic link: the extracted tree keeps the execute bits and the
# link (the image carries them as Rock Ridge), so the program runs and its exit code comes back.
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
finish "linux: a program calling a helper script that reads a library through a link runs"
