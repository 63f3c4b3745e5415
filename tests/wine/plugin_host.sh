#!/usr/bin/env bash
# Runs a test host program under Wine against the real in_kestrel.dll and an
# archive built by the native mixtool beside it (where the plug-in looks for
# the index): two tracks, "One" of 2 s at 22050 Hz and "Two" of 0.3 s at
# 11025 Hz, then a third.
#   plugin_host.sh HOST_EXE PLUGIN_DLL NATIVE_MIXTOOL [ARG]...
# runs HOST_EXE PLUGIN_DLL ARCHIVE [ARG]... in a folder of its own.
set -u

exe=$(realpath -m "$1")
plugin=$(realpath -m "$2")
mixtool=$(realpath -m "$3")
shift 3
. "$(dirname "$0")/script_lib.sh"

need_program "$exe" "host program"
need_program "$plugin" plug-in
need_native_mixtool "$mixtool"
command -v wine >/dev/null || skip "wine is not installed"

enter_scratch "$exe" "$plugin"
"$mixtool" build --index-dir . -o tracks.mix tone:440:2:22050:One tone:660:0.3:11025:Two \
    tone:880:0.3:22050:Three >/dev/null || fail "mixtool build failed"

export WINEDEBUG=-all
xvfb=""
[ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null && xvfb="xvfb-run -a"
captured out timeout 600 $xvfb wine "./$(basename "$exe")" "$(basename "$plugin")" tracks.mix "$@"
status=$?
echo "$out"
[ $status = 124 ] && fail "timed out"
[ $status = 0 ] || skip_if_not_run "$out"
exit $status
