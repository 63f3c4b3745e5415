#!/usr/bin/env python3
"""Checks what kestrel-play logged and heard against mixtool's extraction.

    check_play_log.py SCENARIO FOLDER

FOLDER holds SCENARIO.jsonl, SCENARIO.pcm (the bytes heard, exactly) and
SCENARIO.wav (what was heard, every track at its own speed) from
kestrel-play, and the extractions the scenario compares with (x<N>.wav:
track N). Prints one line per failed check and exits 1 if any failed."""
import json
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
    """(rate, channels, bits, data chunk) of a PCM WAV file."""
    data = open(path, "rb").read()
    at, fmt = 12, None
    while at + 8 <= len(data):
        tag, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
        if tag == b"fmt ":
            fmt = struct.unpack("<HHIIHH", data[at + 8:at + 24])
        if tag == b"data" and fmt:
            return fmt[2], fmt[1], fmt[5], data[at + 8:at + 8 + size]
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
    check(len(restarts) == 2, "two restart requests, got %d" % len(restarts))
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


def main():
    scenario, folder = sys.argv[1], sys.argv[2]
    events = [json.loads(line) for line in open("%s/%s.jsonl" % (folder, scenario))]
    heard = open("%s/%s.pcm" % (folder, scenario), "rb").read()
    sounded = check_speeds(folder, scenario, events, heard)
    {"answered": answered, "seek": seek, "send": send, "failed": failed}[scenario](
        folder, events, heard, sounded)
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
    for failure in failures:
        print("FAIL (%s): %s" % (scenario, failure))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
