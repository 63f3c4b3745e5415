#!/usr/bin/env bash
# Plays archives built by the native mixtool through kestrel-play and the
# plug-in, and checks what was heard (the exact bytes, and the WAV file at
# each track's own speed) and logged (check_play_log.py).
#   kestrel_play_e2e.sh wine|native KESTREL_PLAY PLUGIN NATIVE_MIXTOOL
# Under Wine the programs are the Windows build; "native" runs the same
# checks on the Linux build.
set -u

runner=$1
play=$(realpath -m "$2")
plugin=$(realpath -m "$3")
mixtool=$(realpath -m "$4")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/script_lib.sh"

need_program "$play" kestrel-play
need_program "$plugin" plug-in
need_native_mixtool "$mixtool"
command -v python3 >/dev/null || fail "python3 is needed for the checks"

# The media player's folder: the player, the plug-in beside it, the indexes.
enter_scratch "$play" "$plugin"
exe=./$(basename "$play")

# Each run ends within $limit seconds or fails (status 124): a run that
# hangs must fail the test, not stall it.
limit=300
run() {
    if [ "$runner" = wine ]; then
        # A window of its own is all it makes; a display keeps user32 happy.
        WINEDEBUG=-all timeout -k 5 $limit ${xvfb:-} wine "$exe" "$@"
    else
        timeout -k 5 $limit "$exe" "$@"
    fi
}

if [ "$runner" = wine ]; then
    command -v wine >/dev/null || skip "wine is not installed"
    [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null && xvfb="xvfb-run -a"
    # The first run also creates the Wine prefix, which can take minutes
    # where 32-bit programs run under emulation.
    captured probe run --help
    [ $? = 124 ] && skip "wine did not start kestrel-play.exe within 300 s"
    if ! grep -q "usage:" <<<"$probe"; then
        skip_if_not_run "$probe"
        fail "kestrel-play.exe --help under Wine printed no usage: $probe"
    fi
fi

# The help names every option the parsers take.
usage=${probe:-$(run --help)} || fail "--help exited $?"
sources=$(cd "$here/../../host" && pwd)
for option in $(grep -oh '"--[a-z-]*"' "$sources"/command_line.cpp "$sources"/dialog_automation.cpp |
    tr -d '"' | sort -u); do
    grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$usage" || fail "--help does not mention $option"
done

# extract ARCHIVE INDEX OUT: the track at INDEX (from 0, as check_play_log.py
# names the extractions x<INDEX>.wav), whose number is INDEX + 1.
extract() {
    "$mixtool" extract --index-dir . "$1" --track $(($2 + 1)) -o "$3" >/dev/null ||
        fail "extract $1 $(($2 + 1))"
}
status=0

# Three tracks, the last one at another rate, played as each kind of host
# answers the plug-in's restart request: with stop and play (the media
# player), with a seek to 0, or not at all. In each, the Sound Info dialog
# leaves the second track out (opened during a pause, so that the fast clock
# waits for it), a seek skips a second of the first, a pause at the first
# track's very end spans the change to the other rate (nothing may be heard
# until the unpause), and the user stops a second into the first track's
# second round.
"$mixtool" build --index-dir . -o three.mix tone:437:3:22050:One tone:523:1:22050:Two \
    tone:611:2:11025:Three >/dev/null || fail "build three.mix"
for answer in stop-play seek ignore; do
    folder=answer-$answer
    mkdir $folder
    for t in 0 2; do extract three.mix $t $folder/x$t.wav; done
    run --fast --restart-answer $answer --pause 500:1500 --info-box 500:deselect=1,done \
        --seek 2000@1000 --pause 3000:300 --until 5000 --events $folder/answered.jsonl \
        --wav $folder/answered.wav --pcm $folder/answered.pcm three.mix >/dev/null
    code=$?
    [ $code = 0 ] || { echo "FAIL: the run answering $answer exited $code"; status=1; }
    python3 "$here/check_play_log.py" answered $folder || status=1
done

# One long track: a seek forward, then the stream's end.
mkdir seek && "$mixtool" build --known Pewter --index-dir . -o long.mix \
    tone:397:70:22050:Long >/dev/null || fail "build long.mix"
extract long.mix 0 seek/x0.wav
run --fast --seek 61500@2000 --events seek/seek.jsonl --wav seek/seek.wav --pcm seek/seek.pcm \
    long.mix >/dev/null ||
    fail "seek run exited $?"
python3 "$here/check_play_log.py" seek seek || status=1

# A DSP stage and a visualisation feed that send the host's window a message
# on every block, as real stages do, and a stop mid-track: stop must not
# wait forever for a thread that waits for the host's answer.
mkdir send && cp seek/x0.wav send/x0.wav
limit=60 run --fast --dsp send --until 5000 --events send/send.jsonl --wav send/send.wav \
    --pcm send/send.pcm long.mix >/dev/null
code=$?
if [ $code = 0 ]; then
    python3 "$here/check_play_log.py" send send || status=1
else
    [ $code = 124 ] && echo "FAIL: the run with a stage that talks to the host hung (killed after 60 s)"
    [ $code = 124 ] || echo "FAIL: the run with a stage that talks to the host exited $code"
    status=1
fi

# Failures: missing, unknown size, known size without its index; then a
# good archive still plays.
mkdir failed && echo "not an archive" >odd.mix && truncate -s 270673111 noindex.mix
cp seek/x0.wav failed/x0.wav
run --fast --events failed/failed.jsonl --wav failed/failed.wav --pcm failed/failed.pcm \
    missing.mix odd.mix noindex.mix long.mix >/dev/null 2>&1
code=$?
[ $code = 1 ] || { echo "FAIL: the run with failed plays exited $code, expected 1"; status=1; }
python3 "$here/check_play_log.py" failed failed || status=1

# The track hand-over as the listener hears it: one row for each way it has
# gone wrong, each a kestrel-play command whose log and heard audio
# check_play_log.py judges against what the listener must hear. Each archive
# has a size of its own, so each has its own index beside the plug-in.
#   abc.mix: A 4 s at 22050 Hz, B 3 s at 11025 Hz, C 5 s at 22050 Hz
#   ab.mix:  A 1 s at 22050 Hz, B 1 s at 11025 Hz
#   dd.mix:  two tracks, each damaged at its first chunk
# The tones' frequencies repeat no whole second, so that a piece of what was
# heard says where in which track it lies.
"$mixtool" build --known Marlin --index-dir . -o abc.mix tone:437.31:4:22050:A \
    tone:523.17:3:11025:B tone:611.13:5:22050:C >/dev/null || fail "build abc.mix"
"$mixtool" build --known Harbor --index-dir . -o ab.mix tone:437.31:1:22050:A \
    tone:523.17:1:11025:B >/dev/null || fail "build ab.mix"
"$mixtool" build --known Quarry --index-dir . -o dd.mix tone:300:1:22050:D1 \
    tone:350:1:22050:D2 >/dev/null || fail "build dd.mix"
# A chunk's signature (0xDEAF) is the word 4 bytes into it; the first chunk
# follows the 12-byte track header at the track's offset.
for offset in $("$mixtool" list --index-dir . dd.mix | awk '$1 ~ /^[0-9]+$/ { print $3 }'); do
    printf '\0\0' | dd of=dd.mix bs=1 seek=$((offset + 16)) conv=notrunc status=none ||
        fail "damage dd.mix"
done

# hand_over SCENARIO FOLDER ARCHIVE ARGS...: plays ARCHIVE (and any others
# in ARGS) with ARGS into FOLDER, beside ARCHIVE's extracted tracks, and
# checks the row. A run that neither plays nor ends is killed after
# $hang_limit seconds (Wine's start takes seconds more, emulated far more).
hang_limit=20
[ "$runner" = wine ] && hang_limit=60
hand_over() {
    local scenario=$1 folder=$2 archive=$3 tracks t code start
    shift 3
    mkdir $folder
    tracks=$("$mixtool" list --index-dir . $archive | awk '$1 ~ /^[0-9]+$/' | wc -l)
    for ((t = 0; t < tracks; t++)); do extract $archive $t $folder/x$t.wav; done
    start=$(date +%s%N)
    limit=$hang_limit run "$@" --events $folder/$scenario.jsonl --pcm $folder/$scenario.pcm \
        $archive >/dev/null
    code=$?
    echo "$folder: played in $((($(date +%s%N) - start) / 1000000)) ms"
    if [ $code = 124 ]; then
        echo "FAIL: the $folder run neither played nor ended: killed after $hang_limit s"
        status=1
    elif [ $code != 0 ]; then
        echo "FAIL: the $folder run exited $code"
        status=1
    fi
    python3 "$here/check_play_log.py" $scenario $folder || status=1
}

# Sound Info leaves out the playing 22050 Hz track a second in, and the
# player answers with a seek: the 11025 Hz track is heard once, from its
# start, at its rate (real time: the dialog acts while the track plays).
hand_over dialog_rate dialog_rate-seek abc.mix --restart-answer seek \
    --info-box 1000:deselect=0,done --until 6000
# Every track damaged, the archive played twice (a player that repeats):
# each play ends with its one end-of-stream notice.
for answer in ignore seek; do
    hand_over ended_twice ended_twice-$answer dd.mix --fast --restart-answer $answer dd.mix
done
# The output will not reopen for the next track's rate: the stream ends.
hand_over failed_reopen failed_reopen-seek ab.mix --fast --restart-answer seek --fail-open 2 \
    --until 5000
# The user's stop and play 1.5 s into B: the archive from its start.
for answer in seek ignore; do
    hand_over user_replay user_replay-$answer abc.mix --fast --restart-answer $answer \
        --user stop@5500,play --until 8000
done
# Pause as the player is asked to restart (and ignores it), stop, play 1.7 s
# later: heard from the start, unpaused (the user gives up 2 s later).
hand_over user_pause_stop user_pause_stop-ignore abc.mix --fast --restart-answer ignore \
    --user pause@4000,wait=700,stop,wait=1700,play,wait=2000,stop --until 6000
# The length read at every turn of the player's loop and at its stop and
# play is the exact length of the track heard (or, between two, of either).
for answer in ignore stop-play; do
    hand_over length length-$answer abc.mix --fast --restart-answer $answer --until 9000
done

# The archive's tracks as playlist entries: mixtool writes the playlist
# beside abc.mix (entries relative to it), and the player plays each entry
# in turn to its end-of-stream notice, with its title and length from the
# playlist, from the plug-in and from its metadata (check_play_log.py).
# The converter's interface then gives each track's extraction byte for
# byte, and nothing for the archive as a whole.
mkdir playlist
for t in 0 1 2; do extract abc.mix $t playlist/x$t.wav; done
"$mixtool" playlist --index-dir . abc.mix >/dev/null || fail "mixtool playlist abc.mix"
limit=$hang_limit run --fast --info title --info length --info track \
    --events playlist/playlist.jsonl --pcm playlist/playlist.pcm abc.m3u8 >/dev/null
code=$?
[ $code = 0 ] || { echo "FAIL: the playlist run exited $code"; status=1; }
python3 "$here/check_play_log.py" playlist playlist || status=1
limit=$hang_limit run --convert playlist/converted abc.m3u8 >/dev/null
code=$?
[ $code = 0 ] || { echo "FAIL: the conversion of the playlist exited $code"; status=1; }
for t in 0 1 2; do
    cmp -s playlist/converted/0$((t + 1)).wav playlist/x$t.wav ||
        { echo "FAIL: the converter's track $((t + 1)) differs from its extraction"; status=1; }
done
limit=$hang_limit run --convert playlist/whole.wav abc.mix >/dev/null 2>&1
code=$?
[ $code = 1 ] && [ ! -e playlist/whole.wav ] ||
    { echo "FAIL: converting the whole archive exited $code, expected 1 and no file"; status=1; }

[ $status = 0 ] && echo "kestrel-play ($runner): all checks passed"
exit $status
