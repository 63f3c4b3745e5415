#!/usr/bin/env bash
# The main job: builds a demo archive from a few tones, lists it, extracts it,
# and plays it through the plug-in with the headless host, writing what the
# host heard to OUT/heard.wav.
#   scripts/demo.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "${1:-build/native}")
out=${2:-demo}
mkdir -p "$out"
out=$(realpath "$out")

mixtool="$build/tools/mixtool"
host="$build/host/kestrel-play"
# The host looks for the plug-in beside itself, and the plug-in for its
# index files beside itself, as in the media player.
plugin_dir="$build/host"

"$mixtool" build --known Juniper --index-dir "$plugin_dir" -o "$out/demo.mix" \
    "tone:440:4:22050:A above middle C" \
    "tone:660:3:11025:E, at 11025 Hz" \
    "tone:523.25:5:22050:C, five seconds"
"$mixtool" list --index-dir "$plugin_dir" "$out/demo.mix"
"$mixtool" extract --index-dir "$plugin_dir" "$out/demo.mix" -o "$out/extracted"
if [ -x "$host" ]; then
    # With every track enabled the plug-in wraps round to the first track after
    # the last, as the media player expects; one round is 12 seconds.
    "$host" --fast --until 12000 --wav "$out/heard.wav" --events "$out/events.jsonl" "$out/demo.mix"
    echo "Heard audio: $out/heard.wav (events: $out/events.jsonl)"
fi
