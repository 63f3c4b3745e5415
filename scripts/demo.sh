#!/usr/bin/env bash
# The main job: builds a demo archive from a few tones, lists it, extracts it,
# and plays it through the plug-in with the headless host, writing what the
# host heard to OUT/heard.wav (every track at its own speed) and the bytes it
# played to OUT/heard.pcm, and checks that the file lasts as long as the
# tracks.
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
# With every track enabled the plug-in wraps round to the first track after
# the last, as the media player expects; one round is 12 seconds.
"$host" --fast --until 12000 --wav "$out/heard.wav" --pcm "$out/heard.pcm" \
    --events "$out/events.jsonl" "$out/demo.mix"
echo "Heard audio: $out/heard.wav (the bytes played: heard.pcm; events: events.jsonl)"

# A WAV file's rate and length in ms, from its 44-byte header.
le() { od -An -t u$2 -j $1 -N $2 "$3" | tr -d ' '; }
wav_ms() { echo $(($(le 40 4 "$1") / $(le 32 2 "$1") * 1000 / $(le 24 4 "$1"))); }
seconds() { printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); }
heard=$(wav_ms "$out/heard.wav")
sum=0
parts=()
for track in "$out"/extracted/*.wav; do
    ms=$(wav_ms "$track")
    sum=$((sum + ms))
    parts+=("$(seconds $ms) s")
done
list=$(printf '%s + ' "${parts[@]}")
echo "heard.wav lasts $(seconds $heard) s at $(le 24 4 "$out/heard.wav") Hz; the tracks last ${list% + } = $(seconds $sum) s"
if [ $((heard - sum)) -gt 1 ] || [ $((sum - heard)) -gt 1 ]; then
    echo "heard.wav does NOT match the tracks' durations" >&2
    exit 1
fi
echo "heard.wav matches the tracks' durations: every track sounds at its own speed"
