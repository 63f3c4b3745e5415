#!/usr/bin/env bash
# The benchmarks: kestrel_bench (decoding a tone, random codes and music-like
# codes: block decoding, the track decoder in memory against the bare ADPCM
# step; seek latency with and without checkpoints, play to first write on
# the largest archive, the CPU cost of one sleep-and-wake), then `mixtool
# extract` of a 20 MiB track of each kind of codes (peak memory, and its
# speed as a whole process against the bare ADPCM step over the same codes),
# then the CPU that real-time playback through kestrel-play costs per second
# of audio.
#   scripts/bench.sh [BUILD_DIR] [SECONDS]
# BENCH_FILTER, if set, is passed to kestrel_bench as --benchmark_filter;
# BASELINE_MIXTOOL, if set, is another build's mixtool to time beside this
# one's (for instance main's, built in a worktree of its own).
set -euo pipefail
build=$(realpath "${1:-build/native}")
seconds=${2:-30}
bench="$build/bench/kestrel_bench"
host="$build/host/kestrel-play"
mixtool="$build/tools/mixtool"
nibbles="$build/bench/nibble_loop_bench"
tracks="$build/bench/bench_track"
plugin="$build/host/in_kestrel.so"

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== kestrel_bench"
if [ -x "$bench" ]; then
    "$bench" ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"}
else
    echo "kestrel_bench not built (Google Benchmark missing?)"
fi

for program in "$host" "$mixtool" "$plugin" "$nibbles" "$tracks"; do
    if [ ! -e "$program" ]; then
        echo "missing $program: build the native preset first" >&2
        exit 1
    fi
done

echo
echo "== mixtool extract of a 20 MiB track (1900 s at 22050 Hz, about 42 M samples)"
# Three kinds of codes: a 440 Hz tone built by mixtool, random codes, and
# music-like codes (the encoder over chords and noise), built by bench_track.
# Each extract is timed as a whole process, by the clock and by its CPU time
# (user and system; on a busy machine the clock also counts the time other
# processes took), best of five runs taken in turn. BASELINE_MIXTOOL, if set,
# is another build's mixtool, timed on the same archives in the same turns.
kinds="tone random music"
tools=("$mixtool")
[ -n "${BASELINE_MIXTOOL:-}" ] && tools+=("$(realpath "$BASELINE_MIXTOOL")")
# The one track's number: 1, or 0 for a baseline from before tracks were
# numbered from 1 as the player numbers them.
declare -A first_track
for t in "${!tools[@]}"; do
    first_track[$t]=1
    "${tools[$t]}" --help | grep -q "numbered from 0" && first_track[$t]=0
done
for kind in $kinds; do
    mkdir "$work/$kind"
    if [ "$kind" = tone ]; then
        "$mixtool" build --known Juniper --index-dir "$work/$kind" -o "$work/$kind/big.mix" \
            "tone:440:1900:22050:Big" >/dev/null
    else
        "$tracks" "$kind" 1900 "$work/$kind/big.mix" "$work/$kind"
    fi
done
declare -A best_wall best_cpu
TIMEFORMAT='%3R %3U %3S'
for run in 1 2 3 4 5; do
    for kind in $kinds; do
        for t in "${!tools[@]}"; do
            rm -f "$work/$kind/big.wav"
            { time "${tools[$t]}" extract --index-dir "$work/$kind" "$work/$kind/big.mix" \
                --track "${first_track[$t]}" -o "$work/$kind/big.wav" >/dev/null; } 2>"$work/time.txt"
            read -r wall user sys <"$work/time.txt"
            key="$kind/$t"
            best_wall[$key]=$(awk -v s="$wall" -v b="${best_wall[$key]:-}" \
                'BEGIN { printf "%.3f", (b == "" || s < b) ? s : b }')
            best_cpu[$key]=$(awk -v s="$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')" \
                -v b="${best_cpu[$key]:-}" 'BEGIN { printf "%.3f", (b == "" || s < b) ? s : b }')
        done
    done
done
unset TIMEFORMAT
printf "%-7s %-10s %22s %22s %10s %18s %9s\n" codes mixtool "wall s (Msamples/s)" \
    "CPU s (Msamples/s)" "peak RSS" "bare loop, CPU" "of bare"
for kind in $kinds; do
    # The samples of the WAV, and the peak memory of one more run.
    /usr/bin/time -f '%M' -o "$work/rss.txt" "$mixtool" extract --index-dir "$work/$kind" \
        "$work/$kind/big.mix" --track 1 -o "$work/$kind/big.wav" >/dev/null
    samples=$((($(stat -c %s "$work/$kind/big.wav") - 44) / 2))
    rss_kb=$(tail -n 1 "$work/rss.txt")
    rm -f "$work/$kind/big.wav"
    loop=$("$nibbles" "$work/$kind/big.mix" "$work/$kind" 0)
    loop_rate=$(sed -nE 's/.*CPU [0-9.]+ s, ([0-9.]+) Msamples\/s.*/\1/p' <<<"$loop")
    for t in "${!tools[@]}"; do
        name=$([ "$t" = 0 ] && echo this || echo baseline)
        awk -v kind="$kind" -v name="$name" -v n="$samples" -v wall="${best_wall[$kind/$t]}" \
            -v cpu="${best_cpu[$kind/$t]}" -v rss="$rss_kb" -v loop="$loop_rate" -v t="$t" 'BEGIN {
            printf "%-7s %-10s %9.3f s (%6.1f M/s) %9.3f s (%6.1f M/s)", kind, name, wall,
                n / wall / 1e6, cpu, n / cpu / 1e6
            if (t == 0)
                printf " %7.1f MB %11.1f M/s %8.0f%%", rss / 1024, loop, n / cpu / 1e6 / loop * 100
            printf "\n"
        }'
    done
done
for t in "${!tools[@]}"; do
    name=$([ "$t" = 0 ] && echo "this mixtool" || echo "baseline mixtool")
    awk -v name="$name" -v rw="${best_wall[random/$t]}" -v tw="${best_wall[tone/$t]}" \
        -v rc="${best_cpu[random/$t]}" -v tc="${best_cpu[tone/$t]}" 'BEGIN {
        printf "%s: random codes at %.0f%% of the tone'"'"'s speed by the clock, %.0f%% by CPU time%s\n",
            name, tw / rw * 100, tc / rc * 100, name == "this mixtool" ? " (target >= 90%)" : ""
    }'
done
if [ "${#tools[@]}" -gt 1 ]; then
    awk -v bw="${best_wall[random/1]}" -v nw="${best_wall[random/0]}" \
        -v bc="${best_cpu[random/1]}" -v nc="${best_cpu[random/0]}" 'BEGIN {
        printf "random codes, this against the baseline: %.2fx by the clock, %.2fx by CPU time (target >= 2x)\n",
            bw / nw, bc / nc
    }'
fi
echo "targets: extract >= 60% of the bare loop; peak RSS < 32 MB"

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
