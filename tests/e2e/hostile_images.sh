#!/usr/bin/env bash
# Hostile and damaged images, through the Linux runner and through `isorun extract`: names that
# would leave the target ("..", separators, a drive colon), a tree nested deeper than the bound,
# a file claiming more bytes than the image has, and truncated, corrupt and incomplete (a part
# file missing) containers. Each runner must show its box, exit with 99 and leave no temporary
# directory; `isorun extract` must fail; and nothing may appear outside the target.
#
# The hostile names are put into xorriso images afterwards: xorriso writes a harmless Joliet
# name of the same length, and the UTF-16 bytes of that name are overwritten in place. The
# images carry no Rock Ridge (xorriso writes it unless told not to), so that the Joliet tree is the one extracted.
source "$(dirname "$0")/common.bash"
mkdir -p "$work/tmp" "$work/images"

# patch IMAGE OLD NEW [SIZE]: overwrites the Joliet (UTF-16BE) name OLD by NEW (same length); with
# SIZE, sets that entry's recorded data length instead.
patch() {
  /usr/bin/python3 - "$@" <<'EOF'
import sys
path, old, new = sys.argv[1], sys.argv[2], sys.argv[3]
size = int(sys.argv[4]) if len(sys.argv) > 4 else None
data = bytearray(open(path, 'rb').read())
name = old.encode('utf-16-be')
at = data.find(name)
assert at > 0 and data.find(name, at + 1) < 0, 'name not found once'
if size is None:
    data[at:at + len(name)] = new.encode('utf-16-be')
else:
    record = at - 33  # the identifier follows the 33 fixed bytes of a directory record
    assert data[record + 32] == len(name)
    data[record + 10:record + 14] = size.to_bytes(4, 'little')
    data[record + 14:record + 18] = size.to_bytes(4, 'big')
open(path, 'wb').write(data)
EOF
}

# image NAME SETUP: a folder made by SETUP (run inside it), as an ISO 9660 + Joliet image.
image() {
  local dir=$work/src-$1
  mkdir -p "$dir/d"
  (cd "$dir" && eval "$2")
  xorriso -as mkisofs -quiet --norock -J -joliet-long -o "$work/images/$1.iso" "$dir" 2>/dev/null
}

image dotdot 'echo PAYLOAD >d/QQ; echo after >d/zz'
patch "$work/images/dotdot.iso" QQ ..
image slash 'echo PAYLOAD >d/aQb'
patch "$work/images/slash.iso" aQb a/b
image backslash 'echo PAYLOAD >d/aQb'
patch "$work/images/backslash.iso" aQb 'a\b'
image colon 'echo PAYLOAD >d/cQx'
patch "$work/images/colon.iso" cQx c:x
image deep 'p=d; for i in $(seq 1 55); do p=$p/n; done; mkdir -p $p; echo PAYLOAD >$p/f'
image huge 'echo PAYLOAD >d/HUGE'
patch "$work/images/huge.iso" HUGE HUGE 2147483647

# The damaged containers come from one sound image of incompressible data.
image sound 'head -c 1048576 /dev/urandom >d/random.bin'

before=$(cd "$work" && find . -path ./tmp -prune -o -print | sort)

# runner LABEL FILE: runs a runner made elsewhere and checks the outcome.
runner() {
  local label=$1 file=$2 rc=0
  TMPDIR=$work/tmp "$file" arg </dev/null >"$work/$label.out" 2>"$work/$label.err" || rc=$?
  [ "$rc" -eq 99 ] || fail "$label: runner exit code $rc, expected 99"
  grep -qE 'Extraction Failed|Media Corrupt or Incomplete' "$work/$label.err" || fail "$label: no box: $(head -c 300 "$work/$label.err")"
  [ -z "$(ls -A "$work/tmp")" ] || fail "$label: left in the temporary folder: $(ls -A "$work/tmp")"
  rm -rf "${work:?}/tmp/"*
}

# extract LABEL FILE: isorun extract must refuse it.
extract() {
  local label=$1 file=$2
  if "$ISORUN" extract "$file" -C "$work/tmp/out" >/dev/null 2>"$work/$label.xerr"; then
    fail "$label: isorun extract succeeded"
  fi
  rm -rf "${work:?}/tmp/"*
}

for name in dotdot slash backslash colon deep huge; do
  "$ISORUN" sfx "$work/images/$name.iso" -o "$work/$name.run" --stub linux --run d/zz >/dev/null
  runner "$name" "$work/$name.run"
  extract "$name" "$work/images/$name.iso"
done
grep -q 'cannot be written safely' "$work/dotdot.xerr" || fail "dotdot: isorun extract did not name the reason"

"$ISORUN" sfx "$work/images/sound.iso" -o "$work/sound.run" --stub linux --level 0 >/dev/null
size=$(stat -c %s "$work/sound.run")
head -c $((size - 1000)) "$work/sound.run" >"$work/truncated.run"
chmod +x "$work/truncated.run"
runner truncated "$work/truncated.run"
extract truncated "$work/truncated.run"

cp "$work/sound.run" "$work/corrupt.run"
# A byte in the middle of the stored blocks: its block's digest no longer matches.
printf '\xff' | dd of="$work/corrupt.run" bs=1 seek=$((size - 600000)) conv=notrunc status=none
runner corrupt "$work/corrupt.run"
extract corrupt "$work/corrupt.run"

mkdir -p "$work/split"
"$ISORUN" sfx "$work/images/sound.iso" -o "$work/split/setup" --stub linux --split 256K --level 0 >/dev/null
[ -f "$work/split/setup.002" ] || fail "split: no part file setup.002"
rm -f "$work/split/setup.002"
runner missing-part "$work/split/setup"
extract missing-part "$work/split/setup"
rm -rf "$work/split"

after=$(cd "$work" && find . -path ./tmp -prune -o -print | grep -v -e '\.run$' -e '\.out$' -e '\.err$' -e '\.xerr$' | sort)
extra=$(comm -13 <(echo "$before") <(echo "$after"))
[ -z "$extra" ] || fail "written outside the target: $extra"
! grep -rl PAYLOAD "$work/tmp" 2>/dev/null || fail "a payload is left in the temporary folder"

finish "hostile and damaged images: box, exit 99, nothing left behind, nothing written outside"
