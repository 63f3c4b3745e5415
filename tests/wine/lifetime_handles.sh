#!/usr/bin/env bash
# Runs lifetime_handles.exe under Wine against the real in_kestrel.dll and an
# archive built by the native mixtool beside it (where the plug-in looks for
# the index).
#   lifetime_handles.sh LIFETIME_EXE PLUGIN_DLL NATIVE_MIXTOOL CYCLES
set -u

exe=$(realpath -m "$1")
plugin=$(realpath -m "$2")
mixtool=$(realpath -m "$3")
cycles=$4
fail() { echo "FAIL: $*"; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

[ -f "$exe" ] || fail "no lifetime program at $exe"
[ -f "$plugin" ] || fail "no plug-in at $plugin"
[ -x "$mixtool" ] || fail "no native mixtool at $mixtool (build the native preset, or set KESTREL_NATIVE_BUILD_DIR)"
command -v wine >/dev/null || skip "wine is not installed"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || fail "cannot enter $work"
cp "$exe" "$plugin" . || fail "cannot copy the programs"
"$mixtool" build --index-dir . -o cycles.mix tone:440:0.4 "tone:660:0.3:11025" tone:880:0.3 \
    >/dev/null || fail "mixtool build failed"

export WINEDEBUG=-all
xvfb=""
[ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null && xvfb="xvfb-run -a"
out=$(timeout 600 $xvfb wine "./$(basename "$exe")" "$(basename "$plugin")" cycles.mix "$cycles" 2>&1)
status=$?
echo "$out"
[ $status = 124 ] && fail "timed out"
if [ $status != 0 ] && grep -qi "exec format error\|cannot execute binary" <<<"$out"; then
    skip "wine cannot run 32-bit programs here"
fi
exit $status
