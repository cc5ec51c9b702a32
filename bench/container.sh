#!/usr/bin/env bash
# The container against the tools a user would otherwise pick, on one disc image in one run:
#   verify  isorun verify (LZMA, SHA-256)  vs  sha256sum / openssl dgst -sha256 of the raw image
#   read    the whole image through the reader (isorun verify --full)  vs  xz -dc, same preset
#   pack    isorun pack --threads 2  vs  xz -T2, same preset
# A ratio above 1 means isorun is faster. Each timing is the median of $ROUNDS runs (STAT=best: the
# shortest), files warm; the two packers run $PACK_ROUNDS times, since they take longest.
#
#   bench/container.sh [DIR...]      (default: a mix of documentation, locales and libraries)
# Environment: ISORUN_BIN (default build/host/bin), PRESET (6), ROUNDS (3), PACK_ROUNDS (ROUNDS),
# STAT (median), LIMIT_MIB (400).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BIN=${ISORUN_BIN:-$ROOT/build/host/bin}
PRESET=${PRESET:-6}
ROUNDS=${ROUNDS:-3}
PACK_ROUNDS=${PACK_ROUNDS:-$ROUNDS}
LIMIT_MIB=${LIMIT_MIB:-400}
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
mibs() { awk -v s="$1" -v n="$size" 'BEGIN { printf "%.0f", n / 1048576 / s }'; }

cat "$WORK/image.iso" >/dev/null
t_pack=$(ROUNDS=$PACK_ROUNDS timed "$BIN/isorun" pack "$WORK/image.iso" -o "$WORK/image.ciso" --threads 2 --level "$PRESET")
t_xz=$(ROUNDS=$PACK_ROUNDS timed sh -c "xz -T2 -$PRESET -k -c '$WORK/image.iso' > '$WORK/image.iso.xz'")
t_read=$(timed "$BIN/isorun" verify --full "$WORK/image.ciso")
t_xzd=$(timed sh -c "xz -T1 -dc '$WORK/image.iso.xz' > /dev/null")
t_verify=$(timed "$BIN/isorun" verify "$WORK/image.ciso")
t_sha=$(timed sha256sum "$WORK/image.iso")
t_ossl=$(timed openssl dgst -sha256 "$WORK/image.iso")
csize=$(stat -c %s "$WORK/image.ciso")
xsize=$(stat -c %s "$WORK/image.iso.xz")

printf 'image: %d MiB from %s; preset %s; %s of %s (packing: of %s); %s cores, load %s\n' $((size / 1048576)) "$*" \
  "$PRESET" "${STAT:-median}" "$ROUNDS" "$PACK_ROUNDS" "$(nproc)" "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'sizes: container %.1f%%, xz %.1f%% of the image\n' \
  "$(awk -v a=$csize -v b=$size 'BEGIN{print 100*a/b}')" "$(awk -v a=$xsize -v b=$size 'BEGIN{print 100*a/b}')"
printf '%-44s %8s %9s %7s\n' "what" "seconds" "MiB/s" "ratio"
printf '%-44s %8s %9s %7s\n' "isorun pack --threads 2" "$t_pack" "$(mibs $t_pack)" ""
printf '%-44s %8s %9s %7s\n' "xz -T2 -$PRESET" "$t_xz" "$(mibs $t_xz)" "$(ratio $t_xz $t_pack)"
printf '%-44s %8s %9s %7s\n' "isorun verify --full (read the whole image)" "$t_read" "$(mibs $t_read)" ""
printf '%-44s %8s %9s %7s\n' "xz -T1 -dc" "$t_xzd" "$(mibs $t_xzd)" "$(ratio $t_xzd $t_read)"
printf '%-44s %8s %9s %7s\n' "isorun verify" "$t_verify" "$(mibs $t_verify)" ""
printf '%-44s %8s %9s %7s\n' "sha256sum" "$t_sha" "$(mibs $t_sha)" "$(ratio $t_sha $t_verify)"
printf '%-44s %8s %9s %7s\n' "openssl dgst -sha256" "$t_ossl" "$(mibs $t_ossl)" "$(ratio $t_ossl $t_verify)"
echo "targets: pack/xz >= 1, read/xz-dc >= 0.95, verify vs sha256sum >= 3, vs openssl >= 1"
