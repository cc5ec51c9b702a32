#!/usr/bin/env bash
# The runner's texts in the user's language, end to end.
#
#   - `isorun usertext runner/usertext.scf --lang L`, for every shipped language and some of their
#     regional names: no error, every identifier of the runner listed, every text translated
#     with the English text's %1/%2 places and line ends; for other languages, English.
#   - Linux runner: LANG (or LC_ALL) names the language. A runner without an image and one whose
#     program is missing show their box (on standard error) in that language, in English for
#     LANG=C, and with TARNU_USERTEXTTESTMODE=1 every text carries its identifier.
#   - Windows runner under Wine: the same with the registry's sLanguage. The box texts are read
#     from Wine's relay trace of MessageBoxW, in a prefix of the test's own without a display,
#     where the box returns at once.
# The expected texts come from `isorun usertext`, so the translations are written in one place.
source "$(dirname "$0")/common.bash"
SCRIPT=$SRC/runner/usertext.scf

# ---- The shipped script, through the tool ----
if python3 - "$ISORUN" "$SCRIPT" "$SRC/runner/runner_text.cpp" <<'EOF'; then
import re, subprocess, sys
tool, script, source = sys.argv[1:4]
ids = re.findall(r'UserTextDefault\(\s*u"(\w+)"', open(source, encoding="utf-8").read())
failures = []

def table(lang, path=script):
    run = subprocess.run([tool, "usertext", path, "--lang", lang], capture_output=True)
    if run.returncode or run.stderr:
        failures.append(f"{lang}: exit {run.returncode}: {run.stderr.decode(errors='replace')}")
    rows = (line.split("\t", 1) for line in run.stdout.decode("utf-8").splitlines())
    return {row[0]: row[1] for row in rows if len(row) == 2}

def shape(text):  # the places and the line ends, in order
    return re.findall(r"%[1-9]|\\n", text)

defaults = table("ENU", "/dev/null")
assert len(ids) >= 9 and all(i in defaults for i in ids), f"identifiers: {ids}"
for lang in "DEU DEA DES FRA FRC ESN ESM ITA PTB PTG JPN CHS ZHI RUS".split():
    texts = table(lang)
    for i in ids:
        if i not in texts:
            failures.append(f"{lang}: {i} not listed")
        elif texts[i] == defaults[i]:
            failures.append(f"{lang}: {i} is not translated")
        elif shape(texts[i]) != shape(defaults[i]):
            failures.append(f"{lang}: {i} has places/line ends {shape(texts[i])}, "
                            f"not {shape(defaults[i])}: {texts[i]}")
for lang in "ENU ENG CHT KOR NLD D".split():
    texts = table(lang)
    failures += [f"{lang}: {i} is not the English text" for i in ids if texts.get(i) != defaults[i]]
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
EOF
  echo "isorun usertext: every shipped language translates every text, keeping places and line ends"
else
  fail "isorun usertext over the shipped script"
fi

# text LANG ID: the text of ID for LANG, line ends as real line ends.
text() {
  local row
  row=$("$ISORUN" usertext "$SCRIPT" --lang "$1" | grep "^$2"$'\t')
  printf '%b' "${row#*$'\t'}"
}
# fill TEXT [ARG1 [ARG2]]: TEXT with its places %1 and %2 filled.
fill() {
  local t=$1
  t=${t//%1/"${2-}"}
  printf '%s' "${t//%2/"${3-}"}"
}
# expect_box LABEL FILE CAPTION BODY: FILE holds the caption's line and the body's lines.
expect_box() {
  local want got
  want=$(printf '%s\n%s' "$3" "$4")
  got=$(tr -d '\r' <"$2")
  [ "$got" = "$want" ] || fail "$1: the box reads
$got
--- instead of
$want"
}

# ---- Linux runner ----
mkdir -p "$work/tmp" "$work/payload"
echo data >"$work/payload/readme.txt"
cp "$BIN/isorun-sfx" "$work/bare"  # no image: "corrupt or incomplete"
"$ISORUN" sfx "$work/payload" -o "$work/missing" --stub linux --run missing.exe >/dev/null 2>&1

# bare LABEL ENV...: runs the bare runner with the environment assignments; its box lands in
# $work/LABEL.err.
bare() {
  local label=$1 rc=0
  shift
  env -u LC_ALL -u LC_MESSAGES -u LANG "$@" TMPDIR="$work/tmp" "$work/bare" \
    2>"$work/$label.err" >/dev/null </dev/null || rc=$?
  [ "$rc" -eq 99 ] || fail "$label: exit code $rc, not 99"
}

for pair in de_DE.UTF-8:DEU de_AT.UTF-8:DEA fr_CA.UTF-8:FRC es_ES.UTF-8:ESN it_IT.UTF-8:ITA \
  pt_BR.UTF-8:PTB ja_JP.UTF-8:JPN zh_CN.UTF-8:CHS ru_RU.UTF-8:RUS C:ENU en_US.UTF-8:ENU; do
  locale=${pair%:*} lang=${pair#*:}
  bare "linux-$locale" LANG="$locale"
  expect_box "linux LANG=$locale" "$work/linux-$locale.err" "$(text "$lang" error_corrupt_title)" \
    "$(fill "$(text "$lang" error_corrupt_or_incomplete_media)" "$work/bare")"
done
bare linux-lc-all LANG=de_DE.UTF-8 LC_ALL=C
grep -qx 'Media Corrupt or Incomplete' "$work/linux-lc-all.err" || fail "linux: LC_ALL=C is not English"

bare linux-test-de LANG=de_DE.UTF-8 TARNU_USERTEXTTESTMODE=1
expect_box "linux test mode, German" "$work/linux-test-de.err" \
  "(error_corrupt_title) $(text DEU error_corrupt_title)" \
  "(error_corrupt_or_incomplete_media) $(fill "$(text DEU error_corrupt_or_incomplete_media)" "$work/bare")"
bare linux-test-c LANG=C TARNU_USERTEXTTESTMODE=1
grep -qx '(error_corrupt_title) Media Corrupt or Incomplete' "$work/linux-test-c.err" ||
  fail "linux test mode, English: $(cat "$work/linux-test-c.err")"

rc=0
env -u LC_ALL -u LC_MESSAGES LANG=de_DE.UTF-8 TMPDIR="$work/tmp" "$work/missing" x \
  2>"$work/missing.err" >/dev/null </dev/null || rc=$?
[ "$rc" -eq 99 ] || fail "linux missing program: exit code $rc, not 99"
program=$(head -1 "$work/missing.err")
case "$program" in
  "$work/tmp/missing-"*/missing.exe) ;;
  *) fail "linux missing program: the caption is not the program: $program" ;;
esac
expect_box "linux missing program, German" "$work/missing.err" "$program" \
  "$(fill "$(text DEU error_embedded_command_failed)" "\"$program\" x" 2)"
[ -z "$(ls -A "$work/tmp")" ] || fail "linux: left in the temporary folder: $(ls -A "$work/tmp")"
echo "linux runner: boxes in the language of LANG, English for C, identifiers in test mode"

# ---- Windows runner, under Wine ----
if [ ! -f "$WIN_BIN/isorun-sfx.exe" ]; then
  finish "windows runner: skipped (no $WIN_BIN/isorun-sfx.exe)"
  exit 0
fi
if ! LC_ALL=C grep -qa 'U.S.E.R.T.E.X.T' "$WIN_BIN/isorun-sfx.exe"; then
  fail "windows runner: $WIN_BIN/isorun-sfx.exe carries no translations"
  finish "windows runner: not run"
fi
export ISORUN_WINE_NO_WINDOWS=1 ISORUN_WINEPREFIX=$BIN/../wine-language
wine() { WINEDEBUG=-all "$SRC/scripts/wine-run" "$@" >/dev/null 2>&1; }
# Relay tracing of MessageBoxW alone, set once in this prefix.
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f
language() {  # LANG, or "" for no value
  if [ -n "$1" ]; then
    wine reg add 'HKCU\Control Panel\International' /v sLanguage /d "$1" /f
  else
    wine reg delete 'HKCU\Control Panel\International' /v sLanguage /f || true
  fi
}
cp "$WIN_BIN/isorun-sfx.exe" "$work/bare.exe"
"$ISORUN" sfx "$work/payload" -o "$work/missing.exe" --stub "$WIN_BIN/isorun-sfx.exe" \
  --run missing.exe >/dev/null 2>&1
winpath=$(sed 's|/|\\|g' <<<"Z:$work")

# box LABEL PROGRAM...: runs a Windows runner and writes its box's caption and body, as the
# trace shows them, to $work/LABEL.err. A text the trace cut short ends in "...".
box() {
  local label=$1 rc=0
  shift
  WINEDEBUG=-all,+relay "$SRC/scripts/wine-run" "$@" 2>"$work/$label.trace" >/dev/null </dev/null || rc=$?
  [ "$rc" -eq 99 ] || fail "$label: exit code $rc, not 99"
  python3 - "$work/$label.trace" >"$work/$label.err" <<'EOF'
import re, sys
trace = open(sys.argv[1], encoding="utf-8", errors="replace").read()
call = re.search(r'Call user32\.MessageBoxW\([0-9a-f]+,[0-9a-f]+ L"((?:[^"\\]|\\.)*)"(\.\.\.)?,'
                 r'[0-9a-f]+ L"((?:[^"\\]|\\.)*)"', trace)
if not call:
    sys.exit(0)
def text(s):  # Wine writes \n, \r, \t, \", \\ and other characters as \ and four hex digits
    s = re.sub(r"\\([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), s)
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), s)
body = text(call.group(1)).rstrip("\n") + (call.group(2) or "")
print(text(call.group(3)) + "\n" + body)
EOF
}

language DEU
box win-de "$work/bare.exe"
expect_box "windows sLanguage=DEU" "$work/win-de.err" "$(text DEU error_corrupt_title)" \
  "$(fill "$(text DEU error_corrupt_or_incomplete_media)" "$winpath\\bare.exe")"
box win-de-missing "$work/missing.exe" x
program=$(head -1 "$work/win-de-missing.err")
want=$(fill "$(text DEU error_embedded_command_failed)" "\"$program\" x" 2)
body=$(sed 1d "$work/win-de-missing.err")
[[ "$program" == *'\missing.exe' ]] || fail "windows missing program: caption $program"
if [[ "$body" == *... ]]; then
  [[ "$want" == "${body%...}"* ]] || fail "windows missing program, German: $body"
else
  [ "$body" = "$want" ] || fail "windows missing program, German: $body, not $want"
fi
TARNU_USERTEXTTESTMODE=1 box win-de-test "$work/bare.exe"
head -1 "$work/win-de-test.err" | grep -qxF "(error_corrupt_title) $(text DEU error_corrupt_title)" ||
  fail "windows test mode, German: $(cat "$work/win-de-test.err")"
sed -n 2p "$work/win-de-test.err" | grep -q '^(error_corrupt_or_incomplete_media) Die Datei' ||
  fail "windows test mode, German body: $(cat "$work/win-de-test.err")"

for lang in "" ENU NLD; do
  language "$lang"
  box "win-$lang" "$work/bare.exe"
  expect_box "windows sLanguage=${lang:-(none)}" "$work/win-$lang.err" "Media Corrupt or Incomplete" \
    "The file \"$winpath\\bare.exe\" is incomplete, corrupt, or missing additional part files."
done
finish "windows runner: boxes in the language of sLanguage, English otherwise, identifiers in test mode"
