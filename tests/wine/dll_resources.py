#!/usr/bin/env python3
"""The plug-in DLL's resources, read back out of the built DLL: dialogs 101
and 103 with every control's class, id, text, position and style; icons 108
and 110 with their six images each; and the version block.

    dll_resources.py IN_KESTREL_DLL WINDRES OBJDUMP
"""

import re
import subprocess
import sys

# Window, dialog and control styles (values from the Windows headers).
WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU, WS_TABSTOP = 0x00C00000, 0x00800000, 0x00080000, 0x00010000
WS_EX_DLGMODALFRAME, WS_EX_TOOLWINDOW, WS_EX_CLIENTEDGE = 0x1, 0x80, 0x200
DS_SETFONT, DS_MODALFRAME, DS_CENTER, DS_CENTERMOUSE = 0x40, 0x80, 0x800, 0x1000
SS_LEFT, SS_CENTER, SS_RIGHT, SS_ICON, SS_NOPREFIX, SS_SUNKEN = 0, 1, 2, 3, 0x80, 0x1000
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX, BS_FLAT = 0, 1, 7, 0x8000
LVS_REPORT, LVS_SINGLESEL = 0x1, 0x4

CHILD = WS_CHILD | WS_VISIBLE
VALUE = CHILD | SS_SUNKEN | WS_BORDER
BUTTON = CHILD | BS_FLAT | WS_TABSTOP

# (text, id, class, style, (x, y, width, height), extended style)
INFO = {
    "caption": "Kestrel - Sound Info",
    "size": (239, 150),
    "style": DS_SETFONT | DS_MODALFRAME | DS_CENTER | DS_CENTERMOUSE | WS_POPUP | WS_CAPTION |
    WS_SYSMENU,
    "exstyle": WS_EX_TOOLWINDOW | WS_EX_CLIENTEDGE,
    "controls": [
        ("", 1000, "SYSLISTVIEW32", CHILD | LVS_REPORT | WS_BORDER | WS_TABSTOP, (5, 5, 230, 65), 0),
        ("", -1, "BUTTON", CHILD | BS_GROUPBOX | BS_FLAT, (5, 70, 230, 55), 0),
        ("Playing:", -1, "STATIC", CHILD | SS_LEFT, (15, 80, 26, 8), 0),
        ("", 1002, "STATIC", VALUE | SS_LEFT | SS_NOPREFIX, (60, 78, 165, 12), 0),
        ("Frequency:", -1, "STATIC", CHILD | SS_LEFT, (15, 95, 36, 8), 0),
        ("", 1003, "STATIC", VALUE | SS_LEFT, (60, 92, 50, 13), 0),
        ("Duration:", -1, "STATIC", CHILD | SS_LEFT, (15, 110, 30, 8), 0),
        ("", 1006, "STATIC", VALUE | SS_LEFT, (60, 107, 50, 13), 0),
        ("Volume Size:", -1, "STATIC", CHILD | SS_LEFT, (125, 95, 42, 8), 0),
        ("", 1004, "STATIC", VALUE | SS_RIGHT, (170, 92, 55, 13), 0),
        ("Uncompressed:", -1, "STATIC", CHILD | SS_LEFT, (116, 110, 50, 8), 0),
        ("", 1005, "STATIC", VALUE | SS_RIGHT, (170, 107, 55, 13), 0),
        ("Done", 1008, "BUTTON", BUTTON | BS_DEFPUSHBUTTON, (5, 130, 75, 15), WS_EX_DLGMODALFRAME),
        ("Cancel", 1009, "BUTTON", BUTTON | BS_PUSHBUTTON, (160, 130, 75, 15), WS_EX_DLGMODALFRAME),
        ("Cool!", 1010, "BUTTON", BUTTON | BS_PUSHBUTTON, (90, 130, 60, 15), WS_EX_DLGMODALFRAME),
    ],
}

ABOUT = {
    "caption": "About me?!",
    "size": (157, 57),
    "style": DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU,
    "exstyle": WS_EX_TOOLWINDOW,
    "controls": [
        ("108", -1, "STATIC", CHILD | SS_ICON, (10, 10, 20, 20), 0),
        ("110", -1, "STATIC", CHILD | SS_ICON, (125, 10, 20, 20), 0),
        ("Kestrel", -1, "STATIC", CHILD | SS_CENTER, (40, 10, 75, 8), 0),
        # Widened about the same centre as 45, 20, 64, 8.
        ("Sound Player Plugin", -1, "STATIC", CHILD | SS_CENTER, (35, 20, 84, 8), 0),
        (None, -1, "STATIC", CHILD | SS_CENTER, (20, 40, 112, 8), 0),  # the credit line
    ],
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what)
    return condition


def dialog_block(rc, number):
    match = re.search(r"^%d DIALOGEX (.*?)^END" % number, rc, re.M | re.S)
    return match.group(0) if match else None


CONTROL = re.compile(r'^\s*CONTROL (?:"((?:[^"]|"")*)"|(\d+)), (-?\d+), "([^"]+)", (0x[0-9a-f]+), '
                     r'(\d+), (\d+), (\d+), (\d+)(?:, (0x[0-9a-f]+), \d+)?\s*$', re.M)


def check_dialog(rc, number, want):
    block = dialog_block(rc, number)
    if not check(block, "no dialog %d" % number):
        return
    head = re.match(r"%d DIALOGEX 0, 0, (\d+), (\d+)" % number, block)
    check(head and (int(head.group(1)), int(head.group(2))) == want["size"],
          "dialog %d size %s" % (number, head.groups() if head else None))
    style = re.search(r"^STYLE (0x[0-9a-f]+)", block, re.M)
    check(style and int(style.group(1), 16) == want["style"],
          "dialog %d style %s, want %#x" % (number, style and style.group(1), want["style"]))
    exstyle = re.search(r"^EXSTYLE (0x[0-9a-f]+)", block, re.M)
    check(exstyle and int(exstyle.group(1), 16) == want["exstyle"],
          "dialog %d extended style %s" % (number, exstyle and exstyle.group(1)))
    check('CAPTION "%s"' % want["caption"] in block, "dialog %d caption" % number)
    check('FONT 8, "MS Sans Serif"' in block, "dialog %d font" % number)
    controls = []
    for m in CONTROL.finditer(block):
        text = m.group(1).replace('""', '"') if m.group(1) is not None else m.group(2)
        controls.append((text, int(m.group(3)), m.group(4).upper(), int(m.group(5), 16),
                         tuple(int(m.group(i)) for i in range(6, 10)),
                         int(m.group(10), 16) if m.group(10) else 0))
    check(len(controls) == len(want["controls"]),
          "dialog %d has %d controls, want %d" % (number, len(controls), len(want["controls"])))
    for got, expected in zip(controls, want["controls"]):
        if expected[0] is None:
            got = (None,) + got[1:]
        check(got == expected, "dialog %d control %s, want %s" % (number, got, expected))
    # Tab stops, in order: only the list and the three buttons.
    stops = [c[1] for c in controls if c[3] & WS_TABSTOP]
    check(number != 103 or stops == [1000, 1008, 1009, 1010], "tab order %s" % stops)


def check_icon(rc, number):
    match = re.search(r"^%d 14 /\* RT_GROUP_ICON \*/.*?^END" % number, rc, re.M | re.S)
    if not check(match, "no icon group %d" % number):
        return
    images = re.findall(r'"\\(\d+)\\(\d+)\\(\d+)\\000", 1, (\d+), 0x[0-9a-f]+L, (\d+)',
                        match.group(0))
    sizes = sorted((int(w, 8), int(h, 8), int(bits)) for w, h, _, bits, _ in images)
    want = sorted((s, s, b) for s in (16, 32, 48) for b in (4, 8))
    check(sizes == want, "icon %d images %s, want %s" % (number, sizes, want))
    return [int(index) for *_, index in images]


def main():
    dll, windres, objdump = sys.argv[1:4]
    headers = subprocess.run([objdump, "-h", dll], capture_output=True, text=True).stdout
    check(".rsrc" in headers, "the DLL has no resource section")
    rc = subprocess.run([windres, "-i", dll, "-O", "rc"], capture_output=True, text=True,
                        errors="replace").stdout
    check_dialog(rc, 103, INFO)
    check_dialog(rc, 101, ABOUT)
    first = check_icon(rc, 108) or []
    second = check_icon(rc, 110) or []
    check(first and second and not set(first) & set(second), "the two icons share images")
    # Two different pictures: their image data differ.
    image = {int(n): body for n, body in
             re.findall(r"^(\d+) 3 /\* RT_ICON \*/\s*BEGIN(.*?)^END", rc, re.M | re.S)}
    check(first and second and image.get(first[0]) != image.get(second[0]),
          "icons 108 and 110 hold the same picture")
    version = re.search(r"VERSIONINFO(.*?)^END", rc, re.M | re.S)
    if check(version, "no version resource"):
        block = version.group(1)
        check("FILEVERSION 2, 5, 0, 0" in block, "file version")
        for name in ("FileDescription", "FileVersion", "ProductName", "OriginalFilename"):
            check(re.search(r'VALUE "%s", "[^"]+"' % name, block), "no %s" % name)
        check('"OriginalFilename", "in_kestrel.dll"' in block, "original file name")
    if failures:
        print("%d failures" % len(failures))
        return 1
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
