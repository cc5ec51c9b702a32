#!/usr/bin/env bash
# Intact or nothing: a run over an image that is damaged anywhere the extraction reaches must
# fail as a whole. Checked on Linux, and on Windows under Wine when a win32 build exists:
#   - a SHA-256 container one of whose directory blocks has a flipped byte (its stored bytes,
#     nothing re-sealed, so only that block's digest tells): a runner without --verify exits 99,
#     never starts its program and leaves no temporary directory; `isorun ls -R` and
#     `isorun extract` fail; `isorun verify` names the image offset of that block;
#   - an image whose directory record points back at an ancestor: the same, and nothing hangs;
#   - a container whose trailer claims 2^29 blocks (a 32-bit offsets table would overflow): the
#     runner and the tool fail with a code;
#   - an image holding a file named like a device ("aux.txt"): the Windows runner refuses it
#     (nothing is written for it, the program is not started), the Linux runner takes it;
#   - a container without digests whose block table gives block 3 a stored size beyond the block
#     size: `isorun verify` and a runner made with --stderr both give the reason, naming block 3
#     (the runner on the line after its diagnostic line).
# A sound runner made the same way does start its program, so the checks above mean something.
#
# The directory is found the way a reader finds it: the Joliet volume descriptor's root record,
# then the record named "d" in the root; the container is stored without compression and with
# 2 KiB blocks, so that directory's sector is one block whose stored bytes are the sector itself.
source "$(dirname "$0")/common.bash"
mkdir -p "$work/tmp"

payload=$work/payload
mkdir -p "$payload/d/inner"
cp "$BIN/autorun" "$payload/autorun"
[ -f "$WIN_BIN/autorun.exe" ] && cp "$WIN_BIN/autorun.exe" "$payload/autorun.exe"
for i in 1 2 3; do echo "file $i" >"$payload/d/file$i.txt"; done
echo deep >"$payload/d/inner/deep.txt"
# No Rock Ridge: the Joliet tree, which the damage below is made in, is the one extracted.
xorriso -as mkisofs -quiet --norock -J -joliet-long -o "$work/sound.iso" "$payload" 2>/dev/null
mkdir -p "$work/reserved"
cp "$payload"/autorun* "$work/reserved/"
echo device >"$work/reserved/aux.txt"
xorriso -as mkisofs -quiet --norock -J -joliet-long -o "$work/reserved.iso" "$work/reserved" 2>/dev/null

# joliet IMAGE COMMAND [ARG]: prints the image offset of directory d's records (dir), or makes
# d/inner's record point back at d (loop) in place.
joliet() {
  /usr/bin/python3 - "$@" <<'EOF'
import struct, sys
path, command = sys.argv[1], sys.argv[2]
data = bytearray(open(path, 'rb').read())
def records(extent, size):
    at = extent * 2048
    while at < extent * 2048 + size:
        n = data[at]
        if n == 0:
            at = (at // 2048 + 1) * 2048
            continue
        yield at, data[at + 33:at + 33 + data[at + 32]].decode('utf-16-be', 'replace')
        at += n
svd = next(s for s in range(16, 32) if data[s * 2048:s * 2048 + 6] == b'\x02CD001' and data[s * 2048 + 88:s * 2048 + 91] == b'%/E')
root = svd * 2048 + 156
find = lambda extent, size, name: next(r for r, id in records(extent, size) if id == name)
extent_of = lambda r: struct.unpack_from('<I', data, r + 2)[0]
size_of = lambda r: struct.unpack_from('<I', data, r + 10)[0]
d = find(extent_of(root), size_of(root), 'd')
if command == 'dir':
    print(extent_of(d) * 2048)
elif command == 'loop':
    inner = find(extent_of(d), size_of(d), 'inner')
    struct.pack_into('<I', data, inner + 2, extent_of(d))
    struct.pack_into('>I', data, inner + 6, extent_of(d))
    open(path, 'wb').write(data)
EOF
}

# flip FILE OFFSET: inverts one bit of the byte at OFFSET.
flip() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((byte ^ 0x20)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

# reseal_count FILE COUNT: sets the block count in the trailer that ends FILE and seals it again.
reseal_count() {
  /usr/bin/python3 - "$@" <<'EOF'
import struct, sys, zlib
path, count = sys.argv[1], int(sys.argv[2])
data = bytearray(open(path, 'rb').read())
t = len(data) - 192
assert data[t:t + 4] == b'ci%m', 'no trailer at the end'
struct.pack_into('<Q', data, t + 64, count)
struct.pack_into('<I', data, t + 4, zlib.crc32(bytes(data[t + 8:t + 192])))
open(path, 'wb').write(data)
EOF
}

# damage_table FILE: gives block 3 a stored size of 40000 in the block table of the container that
# ends FILE (no digests and no patches: the size table, 32-byte aligned, ends right before the trailer).
damage_table() {
  /usr/bin/python3 - "$@" <<'EOF'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
t = len(data) - 192
count = struct.unpack_from('<Q', data, t + 64)[0]
struct.pack_into('<I', data, t - ((count * 4 + 31) & ~31) + 4 * 3, 40000)
open(path, 'wb').write(data)
EOF
}
table_reason='block 3: stored size 40000 exceeds the block size 2048'

# expect_reason LABEL: the runner's diagnostic line, then the reason on the next line.
expect_reason() {
  grep -A1 -F 'error 11 mounting media, assuming corrupt/incomplete' "$work/$1.err" | tail -n1 |
    grep -qxF "reason: $table_reason" || fail "$1: no reason after the diagnostic line: $(head -c 400 "$work/$1.err")"
}

# The tampered container: d's first record after "." and ".." has one flipped byte in its name.
"$ISORUN" pack "$work/sound.iso" -o "$work/sound.ciso" --compression none --hash sha256 --block-size 2K >/dev/null
dir_offset=$(joliet "$work/sound.iso" dir)
cp "$work/sound.ciso" "$work/tampered.ciso"
flip "$work/tampered.ciso" $((96 + dir_offset + 34 + 34 + 33 + 1))
cp "$work/sound.iso" "$work/loop.iso"
joliet "$work/loop.iso" loop

# expect_tool_failure LABEL ARGS...: the tool must fail with one line on standard error.
expect_tool_failure() {
  local label=$1 rc=0
  shift
  timeout 60 "$ISORUN" "$@" >"$work/$label.out" 2>"$work/$label.err" || rc=$?
  { [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ]; } || fail "$label: isorun $1 exit code $rc"
  [ "$(wc -l <"$work/$label.err")" -eq 1 ] || fail "$label: not one line: $(head -c 400 "$work/$label.err")"
}

for label in tampered loop; do
  file=$work/$label.ciso
  [ "$label" = loop ] && file=$work/loop.iso
  "$ISORUN" ls "$file" >/dev/null || fail "$label: the root, which is sound, does not list"
  expect_tool_failure "$label-ls" ls -R "$file"
  grep -q '(error 11)' "$work/$label-ls.err" || fail "$label: ls -R: $(cat "$work/$label-ls.err")"
  expect_tool_failure "$label-extract" extract "$file" -C "$work/tmp/out"
  rm -rf "${work:?}/tmp/"*
  expect_tool_failure "$label-cat" cat "$file" d/inner/deep.txt
done
# The damaged block is d's only sector, at the image offset the directory record gives.
"$ISORUN" verify "$work/sound.ciso" >/dev/null || fail "sound: verify fails"
expect_tool_failure verify verify "$work/tampered.ciso"
grep -q "in the block at image offset $dir_offset (error 11)" "$work/verify.err" ||
  fail "verify does not name offset $dir_offset: $(cat "$work/verify.err")"

"$ISORUN" pack "$work/sound.iso" -o "$work/table.ciso" --compression deflate --hash none --block-size 2K >/dev/null
damage_table "$work/table.ciso"
expect_tool_failure table-verify verify "$work/table.ciso"
grep -qF "(error 11): $table_reason" "$work/table-verify.err" || fail "verify gives no reason: $(cat "$work/table-verify.err")"

"$ISORUN" pack "$work/sound.iso" -o "$work/overflow.ciso" >/dev/null
reseal_count "$work/overflow.ciso" $((1 << 29))
expect_tool_failure overflow-ls ls "$work/overflow.ciso"
expect_tool_failure overflow-extract extract "$work/overflow.ciso" -C "$work/tmp/out"
rm -rf "${work:?}/tmp/"*

# runner LABEL WANT RUNNER...: runs a runner; WANT is 0 (the program runs) or 99 (it must not).
runner() {
  local label=$1 want=$2 rc=0
  shift 2
  timeout 120 "$@" one "two three" </dev/null >"$work/$label.out" 2>"$work/$label.err" || rc=$?
  [ "$rc" -eq "$want" ] || fail "$label: exit code $rc, expected $want ($(head -c 300 "$work/$label.err"))"
  if [ "$want" -eq 0 ]; then
    grep -q '^argument 2: \[two three\]' "$work/$label.out" || fail "$label: the program did not run"
  else
    ! grep -q '^argument' "$work/$label.out" || fail "$label: the program was started"
  fi
}

# ---- Linux ----
for label in sound tampered; do
  "$ISORUN" sfx "$work/$label.ciso" -o "$work/$label.run" --stub linux --run autorun >/dev/null
done
"$ISORUN" sfx "$work/loop.iso" -o "$work/loop.run" --stub linux --run autorun >/dev/null
"$ISORUN" sfx "$work/sound.iso" -o "$work/overflow.run" --stub linux --run autorun >/dev/null
reseal_count "$work/overflow.run" $((1 << 29))
"$ISORUN" sfx "$work/reserved.iso" -o "$work/reserved.run" --stub linux --run autorun >/dev/null
"$ISORUN" pack "$work/sound.iso" -o "$work/table-sound.ciso" --compression deflate --hash none --block-size 2K >/dev/null
"$ISORUN" sfx "$work/table-sound.ciso" -o "$work/table.run" --stub linux --run autorun --stderr >/dev/null
damage_table "$work/table.run"
TMPDIR=$work/tmp runner linux-sound 0 "$work/sound.run"
TMPDIR=$work/tmp runner linux-reserved 0 "$work/reserved.run"
TMPDIR=$work/tmp runner linux-table 99 "$work/table.run"
expect_reason linux-table
for label in tampered loop overflow; do
  TMPDIR=$work/tmp runner "linux-$label" 99 "$work/$label.run"
  [ -z "$(ls -A "$work/tmp")" ] || fail "linux-$label: left in the temporary folder: $(ls -A "$work/tmp")"
  rm -rf "${work:?}/tmp/"*
done
echo "linux: tampered directory block, a directory pointing back at its parent and a forged block count each fail the run; a damaged block table gives its reason"

# ---- Windows, under Wine ----
if [ ! -f "$WIN_BIN/isorun-sfx.exe" ] || [ ! -f "$WIN_BIN/autorun.exe" ]; then
  echo "windows runner: skipped (no $WIN_BIN/isorun-sfx.exe and autorun.exe)"
else
  export ISORUN_WINE_NO_WINDOWS=1  # the message box returns at once
  WINE="$SRC/scripts/wine-run"
  wintemp=$("$WINE" cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
  unix_temp=$("$WINE" winepath.exe -u "$wintemp" 2>/dev/null | tr -d '\r')
  [ -d "$unix_temp" ] || fail "windows: no temporary folder at '$unix_temp'"
  for label in sound tampered; do
    "$ISORUN" sfx "$work/$label.ciso" -o "$work/win$label.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe >/dev/null
  done
  "$ISORUN" sfx "$work/loop.iso" -o "$work/winloop.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe >/dev/null
  "$ISORUN" sfx "$work/sound.iso" -o "$work/winoverflow.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe >/dev/null
  reseal_count "$work/winoverflow.exe" $((1 << 29))
  "$ISORUN" sfx "$work/reserved.iso" -o "$work/winreserved.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe >/dev/null
  "$ISORUN" sfx "$work/table-sound.ciso" -o "$work/wintable.exe" --stub "$WIN_BIN/isorun-sfx.exe" --run autorun.exe --stderr >/dev/null
  damage_table "$work/wintable.exe"
  runner win-sound 0 "$WINE" "$work/winsound.exe"
  runner win-table 99 "$WINE" "$work/wintable.exe"
  tr -d '\r' <"$work/win-table.err" >"$work/win-table.lf" && mv "$work/win-table.lf" "$work/win-table.err"
  expect_reason win-table
  for label in tampered loop overflow reserved; do
    runner "win-$label" 99 "$WINE" "$work/win$label.exe"
    left=$(ls -A "$unix_temp" | grep "^win$label-" || true)
    [ -z "$left" ] || fail "win-$label: left in the temporary folder: $left"
  done
  echo "windows: tampered directory block, a directory pointing back at its parent, a forged block count and a device name each fail the run; a damaged block table gives its reason"
fi

finish "intact or nothing: damaged images fail whole, on every path"
