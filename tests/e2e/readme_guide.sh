#!/usr/bin/env bash
# The README's "Making a setup" guide, run as written: every "    $ " line of that section, in
# order, in a scratch folder with the product folder, its ISO image and a signing key it names.
# The Windows stub comes from the win32 build; the signing step needs osslsigncode.
source "$(dirname "$0")/common.bash"
for t in xorriso osslsigncode openssl; do
  command -v $t >/dev/null || { echo "SKIP: needs $t"; exit 0; }
done
[ -f "$WIN_BIN/isorun-sfx.exe" ] || { echo "SKIP: needs the win32 build's runner"; exit 0; }

cd "$work"
mkdir -p product/data bin
cp "$WIN_BIN/isorun-sfx.exe" product/setup.exe # any Windows program will do
printf '#!/bin/sh\necho "installing with $*"\n' >product/install.sh
seq 1 20000 >product/data/notes.txt
xorriso -as mkisofs -quiet -J -R -o product.iso product 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Vendor -keyout vendor.key \
  -out vendor.crt 2>/dev/null
ln -s "$ISORUN" bin/isorun

steps=$(awk '/^## Making a setup/ { on = 1; next } /^## / { on = 0 } on && /^    \$ / { print substr($0, 7) }' \
  "$SRC/README.md")
[ "$(printf '%s\n' "$steps" | wc -l)" -ge 8 ] || fail "the guide has too few commands: $steps"
while IFS= read -r step; do
  out=$(PATH=$work/bin:$PATH bash -c "$step" 2>&1 </dev/null) || fail "$step: $out"
done <<<"$steps"
[ "$(./product.run --quiet 2>&1)" = "installing with --quiet" ] || fail "the Linux runner"
cmp -s unpacked/data/notes.txt product/data/notes.txt || fail "extract gave other bytes"
finish "the guide's $(printf '%s\n' "$steps" | wc -l) commands ran"
