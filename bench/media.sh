#!/usr/bin/env bash
# Listing and reading a large tree through the media, against 7-Zip on the same plain image:
#   isorun ls -R  vs  7z l        and        isorun cat (every file)  vs  7z x -so
# The tree has 10,000 files of 1 to 8 KiB in 100 directories; the image is made by xorriso
# (ISO 9660 with Joliet), by genisoimage with its UDF bridge, and by xorriso with Rock Ridge
# (alone, and beside Joliet, where its tree is the one read), so every volume reader is
# measured. A ratio above 1 means isorun is faster. Each timing is the best of
# $ROUNDS runs, files warm.
#
#   bench/media.sh
# Environment: ISORUN_BIN (default build/host/bin), ROUNDS (3).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${ISORUN_BIN:-$ROOT/build/host/bin}
ROUNDS=${ROUNDS:-3}
[ -x "$BIN/isorun" ] || { echo "no $BIN/isorun: build the host preset first" >&2; exit 1; }
for t in xorriso genisoimage 7z python3; do command -v $t >/dev/null || { echo "needs $t" >&2; exit 1; }; done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

python3 - "$WORK/tree" <<'PY'
import os, random, sys
random.seed(7)
for d in range(100):
    folder = os.path.join(sys.argv[1], "dir%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "file%03d.dat" % f), "wb") as out:
            out.write(random.randbytes(random.randint(1024, 8192)))
PY
bytes=$(du -sb "$WORK/tree" | cut -f1)
(cd "$WORK/tree" && find . -type f | sed 's|^\./||' | sort) >"$WORK/paths"

source "$(dirname "$0")/timing.bash"

run() {  # run LABEL IMAGE
  local image=$1 label=$2
  local t_ls t_7l t_cat t_7x
  # The listings must agree before anything is timed.
  cmp -s <("$BIN/isorun" ls -R "$image" | sort) <(7z l -slt "$image" | sed -n '/^----------/,$s/^Path = //p' | sort) ||
    { echo "the listings of isorun and 7z differ" >&2; exit 1; }
  cmp -s <("$BIN/isorun" cat "$image" $(cat "$WORK/paths")) <(cd "$WORK/tree" && cat $(cat "$WORK/paths")) ||
    { echo "isorun cat differs from the tree" >&2; exit 1; }
  t_ls=$(best "$BIN/isorun" ls -R "$image")
  t_7l=$(best 7z l "$image")
  t_cat=$(best sh -c "'$BIN/isorun' cat '$image' \$(cat '$WORK/paths')")
  t_7x=$(best 7z x -so "$image")
  printf '%-34s %8s %8s %7s\n' "$label: list" "$t_ls" "$t_7l" "$(ratio "$t_7l" "$t_ls")"
  printf '%-34s %8s %8s %7s\n' "$label: read every file" "$t_cat" "$t_7x" "$(ratio "$t_7x" "$t_cat")"
}

xorriso -as mkisofs -quiet -J -joliet-long -o "$WORK/joliet.iso" "$WORK/tree" 2>/dev/null
genisoimage -quiet -J -udf -o "$WORK/udf.iso" "$WORK/tree" 2>/dev/null
xorriso -as mkisofs -quiet -R -o "$WORK/rock.iso" "$WORK/tree" 2>/dev/null
xorriso -as mkisofs -quiet -R -J -joliet-long -o "$WORK/rock_joliet.iso" "$WORK/tree" 2>/dev/null
printf 'tree: %d files in 100 directories, %d MiB; best of %s; %s cores, load %s\n' \
  "$(wc -l <"$WORK/paths")" $((bytes / 1048576)) "$ROUNDS" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-34s %8s %8s %7s\n' "" "isorun" "7z" "ratio"
run "$WORK/joliet.iso" "ISO 9660 + Joliet"
run "$WORK/udf.iso" "UDF bridge"
run "$WORK/rock.iso" "Rock Ridge"
run "$WORK/rock_joliet.iso" "Rock Ridge + Joliet"
