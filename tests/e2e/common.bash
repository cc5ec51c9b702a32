# Shared by the end-to-end scripts, which source it: the build's folders, a scratch folder that
# goes on exit, and the failure count with the verdict.
set -euo pipefail
SRC=${ISORUN_SOURCE_DIR:?}
BIN=${ISORUN_BIN_DIR:?}
WIN_BIN=${ISORUN_WIN32_BIN_DIR:-$SRC/build/win32/bin}
ISORUN=$BIN/isorun
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# finish MESSAGE: exits 1 after any failure, else prints MESSAGE.
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
  echo "$1"
}
