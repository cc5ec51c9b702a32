#!/usr/bin/env bash
# A vendor's folder to runner in one command, the same bytes every time:
#   - the packing options of `isorun pack` given to `isorun sfx` end up in the runner's
#     container, as `isorun info` shows;
#   - the same folder, copied with its times to another directory and made into a runner a
#     second later, gives a byte-identical runner (dates from the newest time in the folder);
#   - a copy with new times gives the same bytes too under an earlier SOURCE_DATE_EPOCH, which
#     dates only what is newer than it: an older file keeps its own date.
source "$(dirname "$0")/common.bash"
command -v xorriso >/dev/null || { echo "SKIP: needs xorriso"; exit 0; }
unset SOURCE_DATE_EPOCH

mkdir -p "$work/one/payload/docs" "$work/two"
printf '#!/bin/sh\necho "installed $1"\n' >"$work/one/payload/setup.sh"
for i in 1 2 3; do seq 1 2000 | sed "s/^/line $i: /" >"$work/one/payload/docs/notes$i.txt"; done
head -c 300000 /dev/urandom >"$work/one/payload/data.cab"
cp -a "$work/one/payload" "$work/two/copy"

# ---- Packing options ----
stub=linux
[ -f "$WIN_BIN/isorun-sfx.exe" ] && stub=$WIN_BIN/isorun-sfx.exe
"$ISORUN" sfx "$work/one/payload" -o "$work/setup.exe" --stub "$stub" --run setup.sh \
  --compression deflate --hash crc32 --block-size 64K >/dev/null ||
  fail "sfx with packing options failed"
info=$("$ISORUN" info "$work/setup.exe" --json 2>&1) || fail "info: $info"
for want in '"compression": "deflate"' '"hash": "crc32"' '"block_size": 65536'; do
  [[ $info == *"$want"* ]] || fail "info lacks $want: $info"
done

# ---- The same bytes ----
make_runner() { "$ISORUN" sfx "$1" -o "$2" --stub linux --run setup.sh --threads 2 >/dev/null; }
make_runner "$work/one/payload" "$work/one.run" || fail "first runner"
sleep 1.1 # a later second, so nothing may depend on the clock
make_runner "$work/two/copy" "$work/two.run" || fail "second runner"
cmp -s "$work/one.run" "$work/two.run" || fail "two runners of one folder differ"
out=$("$work/two.run" now 2>&1) || fail "the runner failed: $out"
[ "$out" = "installed now" ] || fail "the runner's program said: $out"

cp -r "$work/one/payload" "$work/three"
ln -s docs/notes1.txt "$work/three/notes"
ln -s docs/notes1.txt "$work/one/payload/notes"
SOURCE_DATE_EPOCH=1700000000 make_runner "$work/one/payload" "$work/epoch1.run" || fail "epoch"
SOURCE_DATE_EPOCH=1700000000 make_runner "$work/three" "$work/epoch2.run" || fail "epoch copy"
cmp -s "$work/epoch1.run" "$work/epoch2.run" || fail "SOURCE_DATE_EPOCH runners differ"
cmp -s "$work/one.run" "$work/epoch1.run" && fail "SOURCE_DATE_EPOCH was not used"

touch -d '2001-02-03 04:05:06 UTC' "$work/three/docs/notes2.txt"
SOURCE_DATE_EPOCH=1700000000 make_runner "$work/three" "$work/old.run" || fail "old file"
"$ISORUN" extract "$work/old.run" -C "$work/old" >/dev/null || fail "extract"
[ "$(date -u -r "$work/old/docs/notes2.txt" +%F)" = 2001-02-03 ] || fail "an older date was lost"
[ "$(date -u -r "$work/old/setup.sh" +%F)" = 2023-11-14 ] || fail "a newer date was not clamped"
finish "vendor runners: options taken, the same bytes every time"
