#!/usr/bin/env bash
# Builds a demo archive with the Windows mixtool under Wine, and checks that
# what the Windows mixtool extracts is byte for byte what the native one does,
# and that both encode the same WAV input to the same archive and index.
#   mixtool_matches_native.sh WINDOWS_MIXTOOL_EXE NATIVE_MIXTOOL
set -u

exe=$1
native=$2
. "$(dirname "$0")/script_lib.sh"

need_program "$exe" "Windows mixtool"
need_native_mixtool "$native"
command -v wine >/dev/null || skip "wine is not installed"

export WINEDEBUG=-all
enter_scratch

# Every Wine run is bounded: a message box waiting for a click must not hang the test.
win() { timeout 600 wine "$exe" "$@"; }

# The first run also creates the Wine prefix, which takes a while.
captured probe win --help
if ! grep -q "usage:" <<<"$probe"; then
    skip_if_not_run "$probe"
    fail "mixtool.exe --help under Wine printed no usage: $probe"
fi

# An archive built under Wine ...
mkdir wine native || fail "cannot make folders"
win build --index-dir wine -o wine/demo.mix tone:440:2 "tone:1000:1.5:11025:Second" \
    "tone:97.5:0.7:8000:Low: with colon" || fail "build under Wine failed"
[ "$(stat -c %s wine/demo.mix)" = 25046328 ] || fail "archive is not 25046328 bytes"
[ -f wine/Juniper.MIX ] || fail "no Juniper.MIX index beside it"
win list --index-dir wine wine/demo.mix >list.txt || fail "list under Wine failed"
grep -q "Low: with colon" list.txt || fail "list under Wine lacks a title: $(cat list.txt)"

# ... extracts to the same bytes on Windows and natively.
win extract --index-dir wine wine/demo.mix -o wine/out || fail "extract under Wine failed"
"$native" extract --index-dir wine wine/demo.mix -o native/out >/dev/null ||
    fail "native extract failed"
count=0
for file in native/out/*.wav; do
    name=$(basename "$file")
    cmp -s "$file" "wine/out/$name" || fail "$name differs between Wine and native extract"
    count=$((count + 1))
done
[ "$count" = 3 ] || fail "expected 3 tracks, native extract wrote $count"
[ "$(ls wine/out | wc -l)" = 3 ] || fail "extract under Wine wrote $(ls wine/out | wc -l) files"
win extract --index-dir wine wine/demo.mix --track 2 -o one.wav >/dev/null ||
    fail "extract --track under Wine failed"
cmp -s one.wav "native/out/02 Second.wav" || fail "single-track extract differs"

# The same WAV input encodes to the same archive and index on both, and both
# report it alike, each with its own system's path separator.
win build --index-dir wine -o wine/again.mix one.wav >wine_build.txt ||
    fail "WAV build under Wine failed"
"$native" build --index-dir native -o native/again.mix one.wav >native_build.txt ||
    fail "native WAV build failed"
cmp -s wine/again.mix native/again.mix || fail "archives built from one WAV differ"
cmp -s wine/Juniper.MIX native/Juniper.MIX || fail "indexes built from one WAV differ"
wine_said=$(tr -d '\r' <wine_build.txt)
native_said=$(cat native_build.txt)
grep -qF 'wine\Juniper.MIX' <<<"$wine_said" || fail "Windows path not shown with \\: $wine_said"
grep -qF 'native/Juniper.MIX' <<<"$native_said" || fail "native path not shown with /: $native_said"
[ "$(tr '\\' / <<<"$wine_said")" = "${native_said//native/wine}" ] ||
    fail "reports differ: '$wine_said' against '$native_said'"

# Bad input fails with one line and no message box left waiting.
err=$(win list --index-dir wine missing.mix 2>&1 >/dev/null) && fail "a missing archive was listed"
[ "$(wc -l <<<"$err")" = 1 ] || fail "more than one line for a missing archive: $err"
mkdir empty || fail "cannot make a folder"
err=$(win list --index-dir empty wine/demo.mix 2>&1 >/dev/null)
status=$?
[ "$status" != 0 ] && [ "$status" != 124 ] || fail "missing index: status $status"
grep -q "missing index file" <<<"$err" || fail "missing index not reported: $err"

echo "PASS: Windows mixtool under Wine matches the native one"
