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

extract() { # ARCHIVE TRACK OUT
    "$mixtool" extract --index-dir . "$1" --track "$2" -o "$3" >/dev/null || fail "extract $1 $2"
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

[ $status = 0 ] && echo "kestrel-play ($runner): all checks passed"
exit $status
