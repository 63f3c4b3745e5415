#!/usr/bin/env python3
"""The Sound Info and About dialogs end to end: kestrel-play under Wine plays a
three-track archive through the real plug-in DLL and opens the info box while
it plays; automation inside the host reads the dialogs, opens the About box
with "Cool!", presses Enter and Escape there (which must leave it open),
closes it with the window's close command, and then applies a choice of
tracks with "Done".

Run 1 deselects the playing track: the host must then play the next enabled
track, exactly as mixtool extracts it. Run 2 deselects every track: the
stream must end after the output drains, with one end-of-stream notice and no
restart. Run 1 also takes screenshots of both dialogs (ImageMagick `import`
on the X display the test runs in, under xvfb-run) and checks each window's
caption and size against its template's dialog units.

    dialogs_end_to_end.py --host KESTREL_PLAY_EXE --plugin IN_KESTREL_DLL
        --mixtool MIXTOOL_EXE --shots OUT_DIR [--wine WINE]

Exit status 77: Wine cannot run the programs here, or no X display.
"""

import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import wave

SKIP = 77
RATE = 22050
TRACKS = [  # frequency, seconds, title
    (440, 20, "Opening theme"),
    (660, 1.5, "Second track"),
    (880, 1.5, "Third track"),
]
INFO_CAPTION = "Kestrel - Sound Info"
ABOUT_CAPTION = "About me?!"
# Dialog units of the two templates.
INFO_UNITS = (239, 150)
ABOUT_UNITS = (157, 57)

ABOUT_STEPS = ["cool", "enter", "escape", "expect=" + ABOUT_CAPTION]
BACK_STEPS = ["close", "expect=" + INFO_CAPTION]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)
    return condition


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


def wine_run(args, wine, cwd, timeout=300):
    """Runs a Windows program to its end and returns what it printed.

    Its output goes to files, not pipes: a Wine service that the program's
    start brings up may inherit them and hold a pipe open long after the
    program has ended. A start that stalls (as Wine's first starts can
    under emulation) is given one more try on a fresh Wine server."""
    for attempt in (1, 2):
        with tempfile.TemporaryFile("w+", errors="replace") as out, \
                tempfile.TemporaryFile("w+", errors="replace") as err:
            try:
                done = subprocess.run([wine] + args, cwd=cwd, stdout=out, stderr=err,
                                      stdin=subprocess.DEVNULL, timeout=timeout)
            except subprocess.TimeoutExpired:
                if attempt == 2:
                    raise
                print("wine %s did not end within %d s: once more on a fresh Wine server"
                      % (args[0], timeout))
                subprocess.run(["wineserver", "-k"], check=False)
                continue
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(done.args, done.returncode, out.read(), err.read())


def read_events(path):
    events = []
    if os.path.exists(path):
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.strip()
                if line.endswith("}"):
                    events.append(json.loads(line))
    return events


def samples_of(path):
    """The samples of a 16-bit mono WAV file, or of headerless PCM (.pcm)."""
    if path.endswith(".pcm"):
        data = open(path, "rb").read()
    else:
        with wave.open(path, "rb") as w:
            data = w.readframes(w.getnframes())
    return list(struct.unpack("<%dh" % (len(data) // 2), data))


def mul_div(a, b, c):
    """Windows' MulDiv: a * b / c rounded half away from zero."""
    return (2 * a * b + c) // (2 * c)


def duration(size, rate):
    """The dialog's mm:ss estimate of a track's length, worked out here again."""
    seconds = (size // 130) * 5120 // ((rate // 100) * 2) // 1000
    return "%02d:%02d" % (seconds // 60, seconds % 60)


def find(haystack, needle, start=0):
    """First index at or after `start` where `needle` occurs in `haystack`, or -1."""
    n = len(needle)
    for i in range(start, len(haystack) - n + 1):
        if haystack[i] == needle[0] and haystack[i:i + n] == needle:
            return i
    return -1


def take_screenshot(event, name, shots_dir):
    caption = event["caption"]
    pattern = "^" + re.escape(caption) + "$"
    ids = subprocess.run(["xdotool", "search", "--name", pattern], capture_output=True,
                         text=True).stdout.split()
    if not check(ids, "no X window titled %r for the %s screenshot" % (caption, name)):
        return
    # The window whose size is the dialog's window rectangle.
    want = (event["window_w"], event["window_h"])
    chosen = ids[-1]
    for window_id in ids:
        info = subprocess.run(["xwininfo", "-id", window_id], capture_output=True,
                              text=True).stdout
        w = re.search(r"Width: (\d+)", info)
        h = re.search(r"Height: (\d+)", info)
        if w and h and (int(w.group(1)), int(h.group(1))) == want:
            chosen = window_id
    out = os.path.join(shots_dir, name + ".png")
    subprocess.run(["import", "-window", chosen, out], check=False)
    size = subprocess.run(["identify", "-format", "%w %h", out], capture_output=True,
                          text=True).stdout.split()
    check([int(v) for v in size] == list(want),
          "%s screenshot is %s, the window is %s" % (name, size, want))
    print("screenshot: " + out)


def run_host(wine, work, name, steps, shots_dir, until_ms=None):
    """Runs kestrel-play with the info box automation; serves its screenshot
    points. Returns (exit status, host events, dialog events)."""
    events = os.path.join(work, name + "-events.jsonl")
    dialog_events = os.path.join(work, name + "-dialog.jsonl")
    args = [wine, "kestrel-play.exe", "--speed", "1", "--pcm", name + ".pcm",
            "--events", name + "-events.jsonl", "--dialog-events", name + "-dialog.jsonl",
            "--shots", ".", "--info-box", "300:" + ",".join(steps)]
    if until_ms is not None:
        args += ["--until", str(until_ms)]
    args.append("demo.mix")
    # Its output into a file, not a pipe (see wine_run).
    log = open(os.path.join(work, name + "-output.txt"), "w+", errors="replace")
    host = subprocess.Popen(args, cwd=work, stdout=log, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)
    served = set()
    deadline = time.time() + 300
    while host.poll() is None and time.time() < deadline:
        for event in read_events(dialog_events):
            if event["ev"] == "screenshot_point" and event["name"] not in served:
                served.add(event["name"])
                time.sleep(0.5)  # let the window finish painting
                take_screenshot(event, event["name"], shots_dir)
                screenshot_events.append(event)
                open(os.path.join(work, event["name"] + ".done"), "w").close()
        time.sleep(0.1)
    if host.poll() is None:
        host.kill()
        check(False, name + ": kestrel-play did not finish")
    host.wait()
    log.seek(0)
    output = log.read()
    log.close()
    if host.returncode != 0:
        print(output[-2000:])
    return host.returncode, read_events(events), read_events(dialog_events)


def check_dialog_walk(name, dialog, listing):
    """What both runs see: the list, the fields, and the About box's keys."""
    failed = [e for e in dialog if e["ev"] == "automation_failed"]
    check(not failed, "%s: automation failed: %s" % (name, failed))
    expects = [e for e in dialog if e["ev"] == "dialog_expect"]
    check([(e["caption"], e["open"]) for e in expects] ==
          [(ABOUT_CAPTION, True), (INFO_CAPTION, True)],
          "%s: Enter and Escape must leave the About box open, closing it must "
          "leave the info box open: %s" % (name, expects))
    reads = [e for e in dialog if e["ev"] == "dialog_read"]
    check(reads and reads[0]["caption"] == INFO_CAPTION, name + ": info box caption")
    columns = [(e["title"], e["width"]) for e in dialog if e["ev"] == "dialog_column"]
    check(columns == [("Song Description", 274), ("Duration", 51)],
          "%s: columns %s" % (name, columns))
    rows = [(e["title"], e["duration"], e["selected"]) for e in dialog if e["ev"] == "dialog_row"]
    want_rows = [(title, duration(size, RATE), True) for title, size in listing]
    check(rows == want_rows, "%s: rows %s, expected %s" % (name, rows, want_rows))
    fields = [e for e in dialog if e["ev"] == "dialog_fields"]
    total = sum(size for _, size in listing)
    want_fields = {"playing": TRACKS[0][2], "frequency": str(RATE),
                   "duration": duration(listing[0][1], RATE), "volume_size": str(total),
                   "uncompressed": str(total * 4)}
    got_fields = {k: fields[0].get(k) for k in want_fields} if fields else {}
    check(got_fields == want_fields, "%s: fields %s, expected %s" % (name, got_fields, want_fields))


screenshot_events = []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--plugin", required=True)
    parser.add_argument("--mixtool", required=True)
    parser.add_argument("--shots", required=True)
    parser.add_argument("--wine", default="wine")
    options = parser.parse_args()

    if not shutil.which(options.wine) and not os.path.exists(options.wine):
        skip("wine is not installed")
    for tool in ("xdotool", "xwininfo", "import", "identify"):
        if not shutil.which(tool):
            skip(tool + " is not installed")
    if not os.environ.get("DISPLAY"):
        skip("no X display (run under xvfb-run)")
    os.environ.setdefault("WINEDEBUG", "-all")
    os.makedirs(options.shots, exist_ok=True)

    work = tempfile.mkdtemp(prefix="kestrel-dialogs-")
    try:
        # The host with the plug-in beside it, where the plug-in's index goes too.
        shutil.copy(options.host, os.path.join(work, "kestrel-play.exe"))
        shutil.copy(options.plugin, os.path.join(work, "in_kestrel.dll"))
        shutil.copy(options.mixtool, os.path.join(work, "mixtool.exe"))
        probe = wine_run(["kestrel-play.exe", "--help"], options.wine, work)
        if "usage:" not in probe.stdout:
            text = probe.stdout + probe.stderr
            if re.search(r"exec format error|cannot execute|cannot support", text, re.I):
                skip("wine cannot run these programs here: " + text.strip().splitlines()[-1])
            check(False, "kestrel-play --help printed no usage: " + text)
            return 1

        tones = ["tone:%g:%g:%d:%s" % (f, s, RATE, title) for f, s, title in TRACKS]
        built = wine_run(["mixtool.exe", "build", "--index-dir", ".", "-o", "demo.mix"] + tones,
                         options.wine, work)
        if not check(built.returncode == 0, "mixtool build: " + built.stdout + built.stderr):
            return 1
        listed = wine_run(["mixtool.exe", "list", "--index-dir", ".", "demo.mix"], options.wine,
                          work).stdout
        listing = [(m.group(1).strip(), int(m.group(2))) for m in
                   re.finditer(r"^\s+\d+\s+(.+?)\s+\d+\s+(\d+)\s+\d+\s+\S+$", listed, re.M)]
        wine_run(["mixtool.exe", "extract", "--index-dir", ".", "demo.mix", "-o", "tracks"],
                 options.wine, work)
        extracted = [samples_of(os.path.join(work, "tracks", "%02d %s.wav" % (i + 1, t[2])))
                     for i, t in enumerate(TRACKS)]
        check([t for t, _ in listing] == [t[2] for t in TRACKS], "listing " + listed)

        # Run 1: the playing track is disabled; the next one takes over.
        steps = (["read", "shot=info"] + ABOUT_STEPS + ["shot=about"] + BACK_STEPS +
                 ["deselect=0", "done"])
        status, events, dialog = run_host(options.wine, work, "switch", steps, options.shots,
                                          until_ms=12000)
        check(status == 0, "run 1: kestrel-play exit status %s" % status)
        check_dialog_walk("run 1", dialog, listing)
        restarts = [e for e in events if e["ev"] == "restart_request"]
        check(len(restarts) >= 1, "run 1: no restart request after disabling the playing track")
        heard = samples_of(os.path.join(work, "switch.pcm"))
        second, third = extracted[1], extracted[2]
        at = find(heard, second)
        if check(at > 0, "run 1: the second track is not heard whole after the first"):
            # Before it: the start of the first track, then possibly the start of
            # the second, which the old thread decoded before the host's restart.
            k = 0
            while k < at and k < len(extracted[0]) and heard[k] == extracted[0][k]:
                k += 1
            check(heard[:k] == extracted[0][:k] and heard[k:at] == second[:at - k],
                  "run 1: what precedes the second track is not the first track's start")
            check(k > RATE // 4, "run 1: too little of the first track was heard (%d)" % k)
            after = heard[at + len(second):]
            check(after[:len(third)] == third[:len(after)],
                  "run 1: the third track does not follow the second")

        # Run 2: every track is disabled; the stream ends after draining.
        steps = ["read"] + ABOUT_STEPS + BACK_STEPS + ["deselect=all", "done"]
        status, events, dialog = run_host(options.wine, work, "finish", steps, options.shots)
        check(status == 0, "run 2: kestrel-play exit status %s" % status)
        check_dialog_walk("run 2", dialog, listing)
        notices = [e for e in events if e["ev"] == "end_of_stream"]
        restarts = [e for e in events if e["ev"] == "restart_request"]
        check(len(notices) == 1, "run 2: %d end-of-stream notices" % len(notices))
        check(not restarts, "run 2: %d restart requests" % len(restarts))
        heard = samples_of(os.path.join(work, "finish.pcm"))
        check(0 < len(heard) < len(extracted[0]) and heard == extracted[0][:len(heard)],
              "run 2: what was heard is not a start of the first track")

        # The windows against their templates.
        shots = {e["name"]: e for e in screenshot_events}
        for name, caption, units in (("info", INFO_CAPTION, INFO_UNITS),
                                     ("about", ABOUT_CAPTION, ABOUT_UNITS)):
            shot = shots.get(name)
            if not check(shot, "no %s screenshot point" % name):
                continue
            check(shot["caption"] == caption, "%s caption %r" % (name, shot["caption"]))
            want = (mul_div(units[0], shot["base_x"], 4), mul_div(units[1], shot["base_y"], 8))
            got = (shot["client_w"], shot["client_h"])
            check(shot["base_x"] > 0 and got == want,
                  "%s client area %s px, template %s du at base units %d x %d gives %s"
                  % (name, got, units, shot["base_x"], shot["base_y"], want))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print("%d failures" % len(failures))
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
