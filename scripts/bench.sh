#!/usr/bin/env bash
# The benchmarks: kestrel_bench (block decoding against the bare ADPCM step,
# seek latency with and without checkpoints, play to first write on the
# largest archive, the CPU cost of one sleep-and-wake), then `mixtool
# extract` of a 20 MiB track (peak memory, and its speed as a whole process
# against the bare ADPCM step over the same codes), then the CPU that
# real-time playback through kestrel-play costs per second of audio.
#   scripts/bench.sh [BUILD_DIR] [SECONDS]
# BENCH_FILTER, if set, is passed to kestrel_bench as --benchmark_filter.
set -euo pipefail
build=$(realpath "${1:-build/native}")
seconds=${2:-30}
bench="$build/bench/kestrel_bench"
host="$build/host/kestrel-play"
mixtool="$build/tools/mixtool"
nibbles="$build/bench/nibble_loop_bench"
plugin="$build/host/in_kestrel.so"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== kestrel_bench"
if [ -x "$bench" ]; then
    "$bench" ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"}
else
    echo "kestrel_bench not built (Google Benchmark missing?)"
fi

for program in "$host" "$mixtool" "$plugin" "$nibbles"; do
    if [ ! -e "$program" ]; then
        echo "missing $program: build the native preset first" >&2
        exit 1
    fi
done

echo
echo "== mixtool extract of a 20 MiB track (1900 s at 22050 Hz, about 42 M samples)"
mkdir "$work/extract"
"$mixtool" build --known Juniper --index-dir "$work/extract" -o "$work/extract/big.mix" \
    "tone:440:1900:22050:Big" >/dev/null
# Best of three runs, each timed as a whole process; the peak resident memory
# is that of the last.
best_s=""
for run in 1 2 3; do
    rm -f "$work/extract/big.wav"
    begin=$EPOCHREALTIME
    /usr/bin/time -f '%M' -o "$work/extract/rss.txt" "$mixtool" extract \
        --index-dir "$work/extract" "$work/extract/big.mix" --track 0 -o "$work/extract/big.wav" \
        >/dev/null
    end=$EPOCHREALTIME
    best_s=$(awk -v b="$begin" -v e="$end" -v best="$best_s" \
        'BEGIN { s = e - b; if (best == "" || s < best) best = s; printf "%.4f", best }')
done
rss_kb=$(tail -n 1 "$work/extract/rss.txt")
wav_bytes=$(stat -c %s "$work/extract/big.wav")
loop=$("$nibbles" "$work/extract/big.mix" "$work/extract" 0)
echo "bare DecodeNibble loop in memory: $loop"
loop_rate=$(sed -nE 's/.*, ([0-9.]+) Msamples\/s.*/\1/p' <<<"$loop")
awk -v s="$best_s" -v bytes="$wav_bytes" -v rss="$rss_kb" -v loop="$loop_rate" 'BEGIN {
    samples = (bytes - 44) / 2
    rate = samples / s / 1e6
    printf "mixtool extract: %.0f samples in %.3f s (best of 3): %.1f Msamples/s, peak RSS %.1f MB\n",
        samples, s, rate, rss / 1024
    printf "extract against the bare loop: %.0f%% (target >= 60%%); peak RSS target < 32 MB\n",
        rate / loop * 100
}'

echo
echo "== Real-time playback through kestrel-play: $seconds s of 22050 Hz mono"
for program in "$host" "$mixtool" "$plugin"; do
    if [ ! -e "$program" ]; then
        echo "missing $program: build the native preset first" >&2
        exit 1
    fi
done
# The plug-in, a copy of it, and its index in a folder of their own, as the
# end-to-end tests do, so nothing is left beside the built host.
cp "$plugin" "$work/"
"$mixtool" build --known Pewter --index-dir "$work" -o "$work/bench.mix" \
    "tone:440:$((seconds + 10)):22050:Bench tone" >/dev/null

# Run at real pace; meanwhile read each thread's run time (ns, user and
# system) from /proc, so the playback thread's share can be told apart from
# the host's own.
(
    TIMEFORMAT='%3R %3U %3S'
    time "$host" --plugin "$work/in_kestrel.so" --until $((seconds * 1000)) "$work/bench.mix" \
        >"$work/host.out"
) 2>"$work/time.txt" &
runner=$!
declare -A run_ns
main_tid=""
while kill -0 "$runner" 2>/dev/null; do
    pid=""
    if [ "$(cat "/proc/$runner/comm" 2>/dev/null)" = "kestrel-play" ]; then
        pid=$runner
    else
        pid=$(pgrep -P "$runner" -x kestrel-play || true)
    fi
    if [ -n "$pid" ]; then
        main_tid=$pid
        for task in /proc/"$pid"/task/*; do
            read -r ns _ <"$task/schedstat" 2>/dev/null || continue
            run_ns[${task##*/}]=$ns
        done
    fi
    sleep 0.25
done
status=0
wait "$runner" || status=$?
if [ "$status" -ne 0 ]; then
    echo "kestrel-play failed (exit $status):" >&2
    cat "$work/host.out" "$work/time.txt" >&2
    exit 1
fi
read -r wall user sys < <(tail -n 1 "$work/time.txt")
awk -v wall="$wall" -v user="$user" -v sys="$sys" -v audio="$seconds" 'BEGIN {
    cpu = user + sys
    printf "wall %.3f s, user %.3f s, sys %.3f s for %d s of audio\n", wall, user, sys, audio
    printf "process CPU per second of audio: %.3f ms = %.3f%% of one core (target < 0.1%%)\n",
        cpu * 1000 / audio, cpu * 100 / audio
}'
host_ns=0
playback_ns=0
for tid in "${!run_ns[@]}"; do
    if [ "$tid" = "$main_tid" ]; then
        host_ns=${run_ns[$tid]}
    else
        playback_ns=$((playback_ns + run_ns[$tid]))
    fi
done
awk -v host="$host_ns" -v playback="$playback_ns" -v audio="$seconds" 'BEGIN {
    printf "by thread (sampled every 0.25 s, so up to 0.25 s short):\n"
    printf "  playback thread (plug-in): %.3f%% of one core\n", playback / 1e7 / audio
    printf "  host main thread:          %.3f%% of one core\n", host / 1e7 / audio
}'
