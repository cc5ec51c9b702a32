#!/usr/bin/env bash
# The container against the tools a user would otherwise pick, on one disc image in one run:
#   verify  isorun verify (LZMA, SHA-256)  vs  sha256sum / openssl dgst -sha256 of the raw image
#   read    the whole image through the reader (isorun verify --full)  vs  xz -dc, same preset
#   pack    isorun pack --threads 2  vs  xz -T2, same preset, on three images: the compressible
#           one, RANDOM_MIB of random bytes (already-compressed data), and a half-random one
#           (runs of HALF_RUN_MIB taken in turn from the random and the compressible image)
# A ratio above 1 means isorun is faster. Each timing is the median of $ROUNDS runs (STAT=best: the
# shortest), files warm; the two packers run $PACK_ROUNDS times, since they take longest.
#
#   bench/container.sh [DIR...]      (default: a mix of documentation, locales and libraries)
# Environment: ISORUN_BIN (default build/host/bin), PRESET (6), ROUNDS (3), PACK_ROUNDS (ROUNDS),
# STAT (median), LIMIT_MIB (400), RANDOM_MIB (64), HALF_RUN_MIB (7: blocks of 4 MiB mostly mixed).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${ISORUN_BIN:-$ROOT/build/host/bin}
PRESET=${PRESET:-6}
ROUNDS=${ROUNDS:-3}
PACK_ROUNDS=${PACK_ROUNDS:-$ROUNDS}
LIMIT_MIB=${LIMIT_MIB:-400}
RANDOM_MIB=${RANDOM_MIB:-64}
HALF_RUN_MIB=${HALF_RUN_MIB:-7}
[ -x "$BIN/isorun" ] || { echo "no $BIN/isorun: build the host preset first" >&2; exit 1; }
for t in xorriso xz sha256sum openssl; do command -v $t >/dev/null || { echo "needs $t" >&2; exit 1; }; done
if [ $# -eq 0 ]; then set -- /usr/share/doc /usr/share/locale /usr/lib/x86_64-linux-gnu/perl5 /usr/lib/gcc; fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# The image: the given folders as an ISO 9660 image, cut to LIMIT_MIB if larger (the container
# does not care what the bytes mean).
xorriso -as mkisofs -quiet -J -R -o "$WORK/image.iso" "$@" 2>/dev/null
limit=$((LIMIT_MIB * 1024 * 1024))
[ "$(stat -c %s "$WORK/image.iso")" -le $limit ] || truncate -s $limit "$WORK/image.iso"
size=$(stat -c %s "$WORK/image.iso")

source "$(dirname "$0")/timing.bash"
mibs() { awk -v s="$1" -v n="${2:-$size}" 'BEGIN { printf "%.0f", n / 1048576 / s }'; }

head -c $((RANDOM_MIB * 1048576)) /dev/urandom > "$WORK/random.iso"
{ for ((at = 0; at < RANDOM_MIB; at += HALF_RUN_MIB)); do
    n=$((RANDOM_MIB - at < HALF_RUN_MIB ? RANDOM_MIB - at : HALF_RUN_MIB))
    [ $((at / HALF_RUN_MIB % 2)) = 0 ] && src=random.iso || src=image.iso
    dd if="$WORK/$src" bs=1M skip=$at count=$n 2>/dev/null
  done; } > "$WORK/half.iso"

# pack_case NAME: times both packers on $WORK/NAME.iso; sets t_pack, t_xz, csize, xsize.
pack_case() {
  cat "$WORK/$1.iso" >/dev/null
  t_pack=$(ROUNDS=$PACK_ROUNDS timed "$BIN/isorun" pack "$WORK/$1.iso" -o "$WORK/$1.ciso" --threads 2 --level "$PRESET")
  t_xz=$(ROUNDS=$PACK_ROUNDS timed sh -c "xz -T2 -$PRESET -k -c '$WORK/$1.iso' > '$WORK/$1.iso.xz'")
  csize=$(stat -c %s "$WORK/$1.ciso")
  xsize=$(stat -c %s "$WORK/$1.iso.xz")
}
pct() { awk -v a="$1" -v b="$(stat -c %s "$WORK/$2.iso")" 'BEGIN{printf "%.1f%%", 100*a/b}'; }
pack_line() {
  printf '%-26s %8s %8s %9s %7s %9s %9s\n' "$1" "$t_pack" "$t_xz" "$(mibs $t_pack "$(stat -c %s "$WORK/$2.iso")")" \
    "$(ratio $t_xz $t_pack)" "$(pct $csize "$2")" "$(pct $xsize "$2")"
}
pack_case random
random_line=$(pack_line "random ($RANDOM_MIB MiB)" random)
pack_case half
half_line=$(pack_line "half-random ($RANDOM_MIB MiB)" half)
pack_case image
image_line=$(pack_line "compressible ($((size / 1048576)) MiB)" image)
t_read=$(timed "$BIN/isorun" verify --full "$WORK/image.ciso")
t_xzd=$(timed sh -c "xz -T1 -dc '$WORK/image.iso.xz' > /dev/null")
t_verify=$(timed "$BIN/isorun" verify "$WORK/image.ciso")
t_sha=$(timed sha256sum "$WORK/image.iso")
t_ossl=$(timed openssl dgst -sha256 "$WORK/image.iso")
csize=$(stat -c %s "$WORK/image.ciso")
xsize=$(stat -c %s "$WORK/image.iso.xz")

printf 'image: %d MiB from %s; preset %s; %s of %s (packing: of %s); %s cores, load %s\n' $((size / 1048576)) "$*" \
  "$PRESET" "${STAT:-median}" "$ROUNDS" "$PACK_ROUNDS" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-26s %8s %8s %9s %7s %9s %9s\n' "pack --threads 2 vs xz -T2" "isorun s" "xz s" "MiB/s" "ratio" "container" "xz"
printf '%s\n' "$random_line" "$half_line" "$image_line"
echo
printf '%-44s %8s %9s %7s\n' "what" "seconds" "MiB/s" "ratio"
printf '%-44s %8s %9s %7s\n' "isorun verify --full (read the whole image)" "$t_read" "$(mibs $t_read)" ""
printf '%-44s %8s %9s %7s\n' "xz -T1 -dc" "$t_xzd" "$(mibs $t_xzd)" "$(ratio $t_xzd $t_read)"
printf '%-44s %8s %9s %7s\n' "isorun verify" "$t_verify" "$(mibs $t_verify)" ""
printf '%-44s %8s %9s %7s\n' "sha256sum" "$t_sha" "$(mibs $t_sha)" "$(ratio $t_sha $t_verify)"
printf '%-44s %8s %9s %7s\n' "openssl dgst -sha256" "$t_ossl" "$(mibs $t_ossl)" "$(ratio $t_ossl $t_verify)"
echo "targets: pack/xz >= 1 (random >= 20, half-random >= 2), read/xz-dc >= 0.95, verify vs sha256sum >= 3, vs openssl >= 1"
