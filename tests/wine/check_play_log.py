#!/usr/bin/env python3
"""Checks what kestrel-play logged and heard against mixtool's extraction.

    check_play_log.py SCENARIO FOLDER

FOLDER holds SCENARIO.jsonl, SCENARIO.pcm (the bytes heard, exactly) and
SCENARIO.wav (what was heard, every track at its own speed) from
kestrel-play, and the extractions the scenario compares with (x<N>.wav:
track N). Prints one line per failed check and exits 1 if any failed."""
import json
import os
import struct
import sys

failures = []

# A stop that gives way takes milliseconds; one that waits for a thread that
# waits for the host never returns (the script kills the run). The bound
# leaves room for emulation on a busy machine, where a stop took 101 ms.
STOP_MS = 5000


def check(ok, what):
    if not ok:
        failures.append(what)


def wav(path):
    """(rate, channels, bits, data chunk) of a PCM WAV file. A file whose
    writer was killed before it closed it says its data is empty: then
    whatever follows the header."""
    data = open(path, "rb").read()
    at, fmt = 12, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        if tag == b"data" and fmt:
            return fmt[2], fmt[1], fmt[5], data[at + 8:at + 8 + size] if size else data[at + 8:]
        at += 8 + size + (size & 1)
    raise SystemExit("no format or data chunk in " + path)


def pcm(path):
    """The data chunk of a 16-bit PCM WAV file."""
    return wav(path)[3]


def frequency(data, rate):
    """The frequency of a tone in 16-bit mono PCM, from its rising zero crossings."""
    s = struct.unpack("<%dh" % (len(data) // 2), data)
    rises = [i for i in range(1, len(s)) if s[i - 1] < 0 <= s[i]]
    return (len(rises) - 1) * rate / (rises[-1] - rises[0]) if len(rises) > 1 else 0


def heard_runs(events, heard):
    """What was heard as (rate, bytes) stretches, one per opening of the output."""
    opens = [e for e in named(events, "out.open") if e["result"] >= 0]
    marks = [e["heard"] for e in opens] + [len(heard)]
    return [(e["rate"], marks[i + 1] - marks[i]) for i, e in enumerate(opens)
            if marks[i + 1] > marks[i]]


def check_speeds(folder, scenario, events, heard):
    """The WAV file: at the highest rate heard, every stretch as long as it
    lasted when heard, and stretches at that rate exactly the bytes heard."""
    rate, channels, bits, data = wav("%s/%s.wav" % (folder, scenario))
    runs = heard_runs(events, heard)
    top = max([r for r, _ in runs] or [rate])
    check((rate, channels, bits) == (top, 1, 16),
          "WAV format %s, expected %d Hz, mono, 16 bits" % ((rate, channels, bits), top))
    want = sum((n // 2 * top * 2 + r) // (2 * r) for r, n in runs)
    check(len(data) // 2 == want, "WAV lasts %d frames, heard %d at %d Hz (%s)"
          % (len(data) // 2, want, top, runs))
    at_wav, at_heard = 0, 0
    for r, n in runs:
        length = (n // 2 * top * 2 + r) // (2 * r) * 2
        if r == top:
            check(data[at_wav:at_wav + n] == heard[at_heard:at_heard + n],
                  "WAV differs from the bytes heard at %d Hz from byte %d" % (r, at_heard))
        at_wav, at_heard = at_wav + length, at_heard + n
    return data


def named(events, name):
    return [e for e in events if e["ev"] == name]


def answered(folder, events, heard, sounded):
    """Three tracks with the second left out, however the host answered."""
    answer = folder.split("/")[-1][len("answer-"):]
    one, three = pcm(folder + "/x0.wav"), pcm(folder + "/x2.wav")
    second = 22050 * 2
    # One's first second, the seek to its third, Three whole (2 s at half
    # the rate), then One again until the user's stop 5 s into the run.
    expected = one[:second] + one[2 * second:3 * second] + three + one[:second]
    check(len(heard) == len(expected), "heard %d bytes, expected %d" % (len(heard), len(expected)))
    check(heard == expected, "heard differs from the tracks' extractions")
    # In the WAV file Three lasts its 2 s, from 2 s on, at its own pitch: the
    # frequency of its extraction at 11025 Hz (the edges left out).
    middle = sounded[(2 * 22050 + 2205) * 2:(4 * 22050 - 2205) * 2]
    heard_hz, own_hz = frequency(middle, 22050), frequency(three, 11025)
    check(abs(heard_hz - own_hz) < own_hz / 200 and abs(own_hz - 611) < 611 / 200,
          "Three sounds at %.1f Hz in the WAV file, %.1f Hz in its extraction" % (heard_hz, own_hz))
    restarts = [e for e in named(events, "restart_request") if not e["ignored"]]
    # A player seen to ignore requests gets the next track at once: the
    # user's stop may come before it takes the second request, which the
    # stop then withdraws.
    check(len(restarts) == 2 or (answer == "ignore" and len(restarts) == 1),
          "two restart requests, got %d" % len(restarts))
    plays, stops = named(events, "play"), named(events, "stop")
    want = {"stop-play": (3, 3, 0), "seek": (1, 1, 2), "ignore": (1, 1, 0)}[answer]
    got = (len(plays), len(stops), len(named(events, "restart_seek")))
    check(got == want, "plays, stops, seeks answering: %s, expected %s" % (got, want))
    check([e["rate"] for e in named(events, "out.open")] == [22050, 11025, 22050],
          "the output opened once per track heard")
    check(len(named(events, "out.close")) == 3, "the output closed as often as it opened")
    check(stops and stops[-1]["reason"] == "until" and not stops[-1]["output_open"],
          "the user's stop left the output closed")
    check(all(s["ms"] < STOP_MS for s in stops),
          "stop returned within %d ms: %s" % (STOP_MS, [s["ms"] for s in stops]))
    check(not named(events, "end_of_stream"), "no end-of-stream notice")
    print("%s: %d restart requests, %d plays, %d stops, %d seeks answering, %d opens, %d closes"
          % (answer, len(restarts), len(plays), len(stops), got[2],
             len(named(events, "out.open")), len(named(events, "out.close"))))


def seek(folder, events, heard, sounded):
    flushes = named(events, "out.flush")
    check(len(flushes) >= 1 and flushes[0]["ms"] == 61000, "the seek flushed at 61000 ms")
    track = pcm(folder + "/x0.wav")
    if flushes:
        at = flushes[0]["heard"]
        check(heard[:at] == track[:at], "before the seek: the track from its start")
        start = 61 * 22050 * 2
        check(heard[at:] == track[start:], "after the seek: the track from byte 61 x rate x 2")
    check(len(named(events, "end_of_stream")) == 1, "exactly one end-of-stream notice")
    stops = named(events, "stop")
    check(len(stops) == 1 and stops[0]["ms"] < STOP_MS,
          "stop returned within %d ms: %s" % (STOP_MS, [s["ms"] for s in stops]))


def send(folder, events, heard, sounded):
    # Stopped after 5 s of the long track by --until.
    track = pcm(folder + "/x0.wav")
    check(len(heard) == 5 * 22050 * 2 and heard == track[:len(heard)],
          "heard: the track's first 5 s exactly (%d bytes)" % len(heard))
    stops = named(events, "stop")
    check(len(stops) == 1 and stops[0]["ms"] < STOP_MS,
          "stop returned within %d ms: %s" % (STOP_MS, [s["ms"] for s in stops]))
    end = named(events, "finished")[0]
    check(end["stage_sent"] > 0 and end["stage_answered"] == end["stage_sent"],
          "the window answered every message the stages sent: %d of %d"
          % (end["stage_answered"], end["stage_sent"]))
    check(end["stage_answered_elsewhere"] == 0,
          "%d messages answered on the sending thread, not the window's"
          % end["stage_answered_elsewhere"])


def failed(folder, events, heard, sounded):
    results = [e["result"] for e in named(events, "play")]
    check(results == [1, 1, 1, 0], "play results %s, expected [1, 1, 1, 0]" % results)
    boxes = [(e["caption"], e["text"]) for e in named(events, "message_box")]
    invalid = ("Error", "Not a valid Kestrel MIX file!")
    check(len(boxes) == 3, "three message boxes, got %s" % boxes)
    if len(boxes) == 3:
        check(boxes[0] == invalid, "unknown size: %s" % (boxes[0],))
        check(boxes[1][0] == "Missing file" and boxes[1][1].endswith("\\Orchid.MIX"),
              "missing index: %s" % (boxes[1],))
        check(boxes[2] == invalid, "after the missing index: %s" % (boxes[2],))
    infos = named(events, "file_info")
    check(infos[0]["length"] == -1000 and infos[0]["title"] == "missing.mix",
          "file info of a missing path: %s" % infos[0])
    check(heard == pcm(folder + "/x0.wav"), "the good archive played after the failures")


# The track hand-over as the listener hears it. Each of these rows plays an
# archive whose tracks are x<N>.wav in the folder, and judges what was heard:
# which track, from which sample, at which rate, paused or not, ended, and
# the length the player was told.


class Tracks:
    """The archive's tracks as mixtool extracts them: bytes and rate."""

    def __init__(self, folder):
        self.data, self.rate, n = [], [], 0
        while os.path.exists("%s/x%d.wav" % (folder, n)):
            rate, _, _, data = wav("%s/x%d.wav" % (folder, n))
            self.rate.append(rate)
            self.data.append(data)
            n += 1

    def length_ms(self, t):
        """The track's exact length, as the player must be told it."""
        return len(self.data[t]) * 1000 // (self.rate[t] * 2)

    def name(self, t):
        return "ABCDEFGH"[t] if t < 8 else "x%d" % t


def rate_segments(events, heard):
    """[start, end) byte ranges of what was heard, with the rate the output
    was open at for each."""
    opens = [(e["heard"], e["rate"]) for e in named(events, "out.open") if e["result"] >= 0]
    segments = []
    for i, (start, rate) in enumerate(opens):
        end = opens[i + 1][0] if i + 1 < len(opens) else len(heard)
        if segments and start == segments[-1][0]:
            segments.pop()
        if end > start or not segments:
            segments.append((start, end, rate))
    return [s for s in segments if s[1] > s[0]]


def rate_at(segments, at):
    for start, end, rate in segments:
        if start <= at < end:
            return rate
    return None


def longest_match(tracks, heard, at, end, size, before):
    """(track, byte, length) of the longest run of heard[at:end] that is a
    piece of a track, found from its first `size` bytes; on a tie the one
    that goes on from the piece `before`."""
    probe, best = heard[at:min(at + size, end)], None
    for t, data in enumerate(tracks.data):
        found = data.find(probe)
        for _ in range(64):
            if found < 0:
                break
            n = len(probe)
            while at + n < end and found + n < len(data) and heard[at + n] == data[found + n]:
                n += 1
            n -= n % 2
            follows = before and before[0] == t and before[1] + before[2] == found
            if found % 2 == 0 and n > 0 and (not best or n > best[2] or
                                             (n == best[2] and follows)):
                best = (t, found, n)
            found = data.find(probe, found + 1)
    return best


def describe(tracks, events, heard):
    """What was heard, as pieces of the tracks: "B[0.000-1.500 s]@22050"."""
    pieces = []
    for start, end, rate in rate_segments(events, heard):
        at = start
        while at < end:
            before = pieces[-1] if pieces else None
            best = longest_match(tracks, heard, at, end, 512, before) or \
                longest_match(tracks, heard, at, end, 64, before)
            if best:
                pieces.append([best[0], best[1], best[2], rate])
                at += best[2]
                continue
            step = min(end - at, 64)
            if pieces and pieces[-1][0] is None:
                pieces[-1][2] += step
            else:
                pieces.append([None, 0, step, rate])
            at += step
    text = []
    for t, found, n, rate in pieces:
        if t is None:
            text.append("%d bytes of no track@%d" % (n, rate))
        else:
            text.append(piece_text(tracks, t, found, found + n, rate))
    return ", ".join(text) if text else "nothing"


def piece_text(tracks, t, start, end, rate):
    seconds = tracks.rate[t] * 2.0
    return "%s[%.3f-%.3f s]@%d" % (tracks.name(t), start / seconds, end / seconds, rate)


def expect_heard(tracks, events, heard, pieces, what):
    """`pieces`: (track, from byte, to byte or None for its end) in the order
    the listener must hear them, each at its own track's rate."""
    expected, at, rates_ok = b"", 0, True
    segments = rate_segments(events, heard)
    for t, start, end in pieces:
        piece = tracks.data[t][start:end]
        expected += piece
        for b in range(at, min(at + len(piece), len(heard)), 512):
            rates_ok = rates_ok and rate_at(segments, b) == tracks.rate[t]
        at += len(piece)
    # A run that was killed left only part of what it heard in its file.
    if not named(events, "finished"):
        expected = expected[:len(heard)]
    ok = heard == expected and rates_ok
    check(ok, "%s: heard %s; expected %s" % (
        what, describe(tracks, events, heard),
        ", ".join(piece_text(tracks, t, start, len(tracks.data[t]) if end is None else end,
                             tracks.rate[t]) for t, start, end in pieces)))
    return ok


def common_prefix(a, b):
    n = 0
    while n < min(len(a), len(b)) and a[n] == b[n]:
        n += 1
    return n - n % 2


def heard_until(events, ms):
    """The run went on until --until stopped it after `ms` of audio."""
    stops = named(events, "stop")
    end = named(events, "finished")
    heard_ms = end[0]["heard_ms"] if end else 0
    check(stops and stops[-1]["reason"] == "until" and abs(heard_ms - ms) < 1,
          "the run went on until %d ms had been heard (%.1f ms, last stop: %s)"
          % (ms, heard_ms, stops[-1]["reason"] if stops else "none"))


def about(actual, want):
    """`want` bytes, or `actual` if it is within two frames of it: where a
    hold or a limit falls between two frames depends on the rate."""
    return actual if abs(actual - want) <= 4 else want


def plays_of(events, reason):
    return [e for e in named(events, "play") if e["reason"] == reason]


def dialog_rate(folder, events, heard):
    """Sound Info moves playback from A (22050 Hz) to B (11025 Hz) while the
    player answers with a seek: B is heard once, from its start, at its own
    rate, then C."""
    tracks = Tracks(folder)
    cut = common_prefix(heard, tracks.data[0])
    check(22050 * 2 <= cut, "A heard from its start until the dialog's change a second in "
          "(%d bytes)" % cut)
    if cut == len(tracks.data[0]):
        # Under a loaded emulator the dialog can come up only after A has
        # played out: the change is then A's own end, and what follows is
        # still checked as below.
        print("dialog_rate: the dialog's change came after A had ended")
    # A dialog slow to come up (an emulated machine) leaves less of the run
    # for B and C; what is heard of them is still heard from their starts.
    b = min(len(heard) - cut, len(tracks.data[1]))
    rest = len(heard) - cut - b
    expect_heard(tracks, events, heard, [(0, 0, cut), (1, 0, b), (2, 0, rest)],
                 "after Sound Info left A out")
    check(not named(events, "end_of_stream"), "the stream went on after B")
    heard_until(events, 6000)


def ended_twice(folder, events, heard):
    """Every track damaged at its first chunk, the archive played twice: each
    play ends with one end-of-stream notice."""
    check(not heard, "nothing heard (%d bytes)" % len(heard))
    plays = named(events, "play")
    check(len(plays) == 2, "the archive was played twice (%d plays)" % len(plays))
    for n, play in enumerate(plays):
        later = [e for e in events if e["t"] > play["t"] and
                 (n + 1 >= len(plays) or e["t"] < plays[n + 1]["t"])]
        notices = named(later, "end_of_stream")
        check(play["result"] == 1 or len(notices) == 1,
              "play %d returned %d (output %s) and was followed by %d end-of-stream notices, "
              "not one" % (n + 1, play["result"], "open" if play["output_open"] else "closed",
                           len(notices)))


def failed_reopen(folder, events, heard):
    """The output will not reopen for B's rate while the player answers with
    a seek: A is heard, then the stream ends with one notice."""
    tracks = Tracks(folder)
    expect_heard(tracks, events, heard, [(0, 0, None)], "before the failed reopen")
    notices = named(events, "end_of_stream")
    check(len(notices) == 1, "one end-of-stream notice after the failed reopen, got %d"
          % len(notices))


def user_replay(folder, events, heard):
    """The user stops 1.5 s into B and plays at once: the archive from A's
    start, whatever the player did with earlier restart requests."""
    tracks = Tracks(folder)
    stops = [e for e in named(events, "stop") if e["reason"] == "user"]
    plays = plays_of(events, "user")
    check(len(stops) == 1 and len(plays) == 1, "one user's stop and play")
    if not stops or not plays:
        return
    # 1.5 s into B, then A until 8 s have been heard in all.
    before = about(stops[0]["heard"] - len(tracks.data[0]), tracks.rate[1] * 3)
    after = about(len(heard) - plays[0]["heard"], tracks.rate[0] * 5)
    expect_heard(tracks, events, heard, [(0, 0, None), (1, 0, before), (0, 0, after)],
                 "stop and play of the same archive")
    heard_until(events, 8000)
    check(plays[0]["is_paused"] == 0 and not plays[0]["output_paused"],
          "the user's play started unpaused")


def user_pause_stop(folder, events, heard):
    """Paused while the player ignores a restart request, stopped, played
    1.7 s later: a plain play, unpaused, from A's start."""
    tracks = Tracks(folder)
    plays = plays_of(events, "user")
    check(len(plays) == 1, "one user's play")
    if not plays:
        return
    play = plays[0]
    check(play["result"] == 0 and play["is_paused"] == 0 and not play["output_paused"],
          "the play after the user's stop: is_paused %d, output %s"
          % (play["is_paused"], "paused" if play["output_paused"] else "playing"))
    # Two seconds of A after the play, until 6 s have been heard in all.
    after = about(len(heard) - play["heard"], tracks.rate[0] * 4)
    expect_heard(tracks, events, heard, [(0, 0, None), (0, 0, after)], "after pause, stop, play")


def length(folder, events, heard):
    """The length the player reads at every moment is the exact length of
    the track heard, or, between two tracks, of either."""
    tracks = Tracks(folder)
    order = [0, 1, 2, 0]
    ends, at = [], 0
    for t in order:
        at += len(tracks.data[t])
        ends.append(at)
    expect_heard(tracks, events, heard, [(0, 0, None), (1, 0, None),
                                         (2, 0, len(heard) - ends[1])], "A, B and C")
    heard_until(events, 9000)

    def allowed(lo, hi):
        """Tracks heard at some moment from `lo` to `hi` bytes, boundaries
        belonging to both sides."""
        names, start = set(), 0
        for t, end in zip(order, ends):
            if start <= hi and lo <= end:
                names.add(tracks.length_ms(t))
            start = end
        return names

    wrong = {}
    for e in events:
        if e["ev"] in ("status", "stop", "play", "restart_request") and \
                e.get("result", 0) == 0 and \
                not e.get("ignored", False) and (e["ev"] != "restart_request" or e["playing"]):
            lo = min(e["heard"], e.get("heard_before", e["heard"]))
            hi = max(e["heard"], e.get("heard_after", e["heard"]))
            ok = e["length"] in allowed(lo, hi)
            if e["ev"] == "status":
                # The time is asked before the length: a track change
                # between the two questions pairs one track's time with the
                # next one's length.
                ok = ok and 0 <= e["time"] <= max(allowed(lo, hi))
            if not ok:
                key = (e["ev"], e["length"], " or ".join(map(str, sorted(allowed(lo, hi)))))
                wrong[key] = wrong.get(key, 0) + 1
    for (ev, got, want), n in sorted(wrong.items()):
        check(False, "%d %s events read length %d where the track heard (or the next) "
              "is %s ms long" % (n, ev, got, want))


def playlist(folder, events, heard):
    """A playlist of the archive's track entries, as mixtool writes it: each
    entry heard whole in turn, from its start to its own end-of-stream
    notice, and the title and length the playlist gave it alike in what
    the plug-in answers before play, while it plays and as metadata."""
    tracks = Tracks(folder)
    count = len(tracks.data)
    plays = named(events, "play")
    check(len(plays) == count and all(p["reason"] == "start" and p["result"] == 0 for p in plays),
          "one play per entry: %s" % [(p["reason"], p["result"]) for p in plays])
    check(not named(events, "restart_request"), "a restart request: an entry is one track")
    check(len(named(events, "end_of_stream")) == count, "one end-of-stream notice per entry")
    marks = [p["heard"] for p in named(events, "play_call")] + [len(heard)]
    for t in range(min(count, len(marks) - 1)):
        check(heard[marks[t]:marks[t + 1]] == tracks.data[t],
              "entry %d: what was heard is not track %d's extraction" % (t + 1, t + 1))
    starts = [i for i, e in enumerate(events) if e["ev"] == "entry"]
    check(len(starts) == count, "%d entries for %d tracks" % (len(starts), count))
    for t, (start, end) in enumerate(zip(starts, starts[1:] + [len(events)])):
        part, ms, title = events[start:end], tracks.length_ms(t), tracks.name(t)
        entry = part[0]
        check(entry["name"].endswith("|%d.MIX" % (t + 1)), "entry %d is %s" % (t + 1, entry["name"]))
        check(entry["listed"] and (entry["list_title"], entry["list_seconds"]) == (title, ms // 1000),
              "entry %d: the playlist says %r, %d s; the track is %s, %d ms"
              % (t + 1, entry["list_title"], entry["list_seconds"], title, ms))
        infos = [(e["path"], e["title"], e["length"]) for e in named(part, "file_info")]
        check(infos == [(entry["name"], title, ms), ("", title, ms)],
              "entry %d: title and length before play and while playing: %s" % (t + 1, infos))
        lengths = sorted({e["length"] for e in named(part, "status")})
        check(lengths == [ms], "entry %d: the status showed lengths %s, not %d" % (t + 1, lengths, ms))
        asked = {e["field"]: e["value"] for e in named(part, "extended_info") if e["handled"]}
        want = {"title": title, "length": str(ms), "track": "%d/%d" % (t + 1, count)}
        check(asked == want, "entry %d: metadata %s, expected %s" % (t + 1, asked, want))


def main():
    scenario, folder = sys.argv[1], sys.argv[2]
    events = []
    for line in open("%s/%s.jsonl" % (folder, scenario)):
        try:
            events.append(json.loads(line))
        except ValueError:
            pass  # the last line of a run that was killed may be cut short
    path = "%s/%s.pcm" % (folder, scenario)
    heard = open(path, "rb").read() if os.path.exists(path) else b""
    if scenario in ("answered", "seek", "send", "failed"):
        sounded = check_speeds(folder, scenario, events, heard)
        {"answered": answered, "seek": seek, "send": send, "failed": failed}[scenario](
            folder, events, heard, sounded)
    else:
        {"dialog_rate": dialog_rate, "ended_twice": ended_twice, "failed_reopen": failed_reopen,
         "user_replay": user_replay, "user_pause_stop": user_pause_stop,
         "length": length, "playlist": playlist}[scenario](folder, events, heard)
    for v in named(events, "violation"):
        check(False, "violation at %.1f ms: %s (%s)" % (v["t"], v["what"], v.get("value", "")))
    end = named(events, "finished")
    check(len(end) == 1, "the run finished")
    if end:
        check(end[0]["violations"] == 0, "the output's contract held")
        check(end[0]["heard_while_paused"] == 0,
              "%d bytes heard while paused" % end[0]["heard_while_paused"])
    plays = named(events, "play_call")
    writes = named(events, "out.write")
    if plays and writes:
        print("%s: first write %.1f ms after play" % (scenario, writes[0]["t"] - plays[0]["t"]))
    label = os.path.basename(os.path.normpath(folder))
    for failure in failures:
        print("FAIL (%s): %s" % (label if label.startswith(scenario) else scenario, failure))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
