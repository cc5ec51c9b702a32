#!/usr/bin/env bash
# Extraction over images made by real tools, compared with the tree they were made from: names,
# sizes, bytes and (where the tool keeps them) modification times and modes; a UDF bridge with
# Rock Ridge gives the Rock Ridge tree, with the modes its UDF tree does not keep. Every image is extracted as
# it is, packed into a container, and appended to a Linux runner with `isorun sfx`; all three
# must give the same tree.
#
# Recipes: xorriso -as mkisofs -J -joliet-long -R; genisoimage -J -joliet-long -R; genisoimage
# -udf; pycdlib PyCdlib.new(udf='2.60') with every entry added under its UDF name (pycdlib
# stamps its own times, so that image is compared without them).
source "$(dirname "$0")/common.bash"

# The source tree: nesting, spaces, non-ASCII names, an empty file and folder, a file one byte
# longer than the copy buffer, random data, and a time of its own for every file.
tree=$work/tree
mkdir -p "$tree/docs/nested/deeper" "$tree/empty folder" "$tree/ünïcödé"
printf 'hello\n' >"$tree/readme.txt"
: >"$tree/docs/empty"
head -c 262145 /dev/urandom >"$tree/docs/buffer-plus-one.bin"
head -c 1048576 /dev/urandom >"$tree/docs/nested/random.bin"
seq 1 200000 >"$tree/docs/nested/deeper/numbers.txt"
echo x >"$tree/ünïcödé/straße.txt"
echo y >"$tree/with space.txt"
printf '#!/bin/sh\n' >"$tree/run.sh"
chmod 755 "$tree/run.sh"
n=0
while IFS= read -r f; do
  touch -d "@$((1500000000 + n * 86401))" "$f"
  n=$((n + 1))
done < <(find "$tree" -type f | sort)

# listing DIR [times]: one line per entry, "d NAME" or "f NAME SIZE [MTIME MODE]", sorted.
listing() {
  (cd "$1" && find . -mindepth 1 -printf '%y\t%P\t%s\t%T@\t%m\n') |
    awk -F'\t' -v times="${2:-}" '$1 == "d" { print "d", $2; next }
      { print "f", $2, $3, (times ? int($4) " " $5 : "") }' | sort
}

# check LABEL IMAGE [times]: extracts IMAGE three ways and compares each with the tree.
check() {
  local label=$1 image=$2 times=${3:-} out
  "$ISORUN" pack "$image" -o "$work/$label.ciso" >/dev/null
  "$ISORUN" sfx "$image" -o "$work/$label.run" --stub linux >/dev/null
  for form in "$image" "$work/$label.ciso" "$work/$label.run"; do
    out=$work/out-$label-$(basename "$form")
    if ! "$ISORUN" extract "$form" -C "$out" >/dev/null; then
      fail "$label: isorun extract $(basename "$form") failed"
      continue
    fi
    diff -r "$tree" "$out" >/dev/null || fail "$label: $(basename "$form") differs in names or bytes"
    [ "$(listing "$tree" "$times")" = "$(listing "$out" "$times")" ] ||
      fail "$label: $(basename "$form") differs in sizes or times: $(diff <(listing "$tree" "$times") <(listing "$out" "$times") | head -5)"
    rm -rf "$out"
  done
  echo "$label: the image, its container and its runner extract to the source tree"
}

xorriso -as mkisofs -quiet -J -joliet-long -R -o "$work/xorriso.iso" "$tree" 2>/dev/null
check xorriso "$work/xorriso.iso" times
genisoimage -quiet -input-charset utf-8 -J -joliet-long -R -o "$work/genisoimage.iso" "$tree" 2>/dev/null
check genisoimage "$work/genisoimage.iso" times
genisoimage -quiet -input-charset utf-8 -udf -J -R -o "$work/genisoimage-udf.iso" "$tree" 2>/dev/null
check genisoimage-udf "$work/genisoimage-udf.iso" times

if /usr/bin/python3 -c 'import pycdlib' 2>/dev/null; then
  /usr/bin/python3 - "$tree" "$work/pycdlib-udf.iso" <<'EOF'
import os, sys, pycdlib
src, out = sys.argv[1], sys.argv[2]
iso = pycdlib.PyCdlib()
iso.new(udf='2.60')
for root, dirs, files in os.walk(src):
    rel = os.path.relpath(root, src)
    base = '' if rel == '.' else '/' + rel
    for d in sorted(dirs):
        iso.add_directory(udf_path=base + '/' + d)
    for f in sorted(files):
        path = os.path.join(root, f)
        iso.add_file(path, udf_path=base + '/' + f)
iso.write(out)
EOF
  check pycdlib-udf "$work/pycdlib-udf.iso"
else
  echo "pycdlib-udf: skipped (no pycdlib for /usr/bin/python3)"
fi

finish "extraction over tool-made images: all checks passed"
