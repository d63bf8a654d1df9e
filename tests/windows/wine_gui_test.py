#!/usr/bin/env python3
"""servo-tool.exe under Wine on a virtual X display (the one wine.sh start makes
for the prefix, or with_xvfb.sh's), against
the Linux servo-sim that Wine reaches as COM1.

    with_xvfb.sh wine_gui_test.py --wine tests/windows/wine.sh --prefix PREFIX \
        --bin build/windows/bin --native-bin build/windows/native/bin

Each language connects with --connect COM1 and saves the three pages; the
simulator's frame count shows that the program polled it, and the scope
picture must hold curve pixels in the channel colours. Prints one line per
case and ends with "N passed, M failed".
"""
import argparse
import os
import struct
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_link_test import Runner, Sim, expect, expect_status  # noqa: E402

PAGES = ("status", "parameters", "scope")
CHANNEL_COLOURS = ((255, 0, 0), (0, 255, 0), (0, 0, 255))


def read_png(path):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB or RGBA PNG."""
    with open(path, "rb") as f:
        data = f.read()
    expect(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    expect(depth == 8 and colour in (2, 6) and interlace == 0, f"{path}: unexpected format {header}")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        line = bytearray(raw[start + 1:start + 1 + stride])
        if kind == 2:
            line = bytearray((x + u) & 0xFF for x, u in zip(line, previous))
        elif kind in (1, 3, 4):
            for i in range(stride):
                a = line[i - bpp] if i >= bpp else 0
                if kind == 1:
                    line[i] = (line[i] + a) & 0xFF
                elif kind == 3:
                    line[i] = (line[i] + (a + previous[i]) // 2) & 0xFF
                else:
                    b = previous[i]
                    c = previous[i - bpp] if i >= bpp else 0
                    pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                    line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(list(zip(line[0::bpp], line[1::bpp], line[2::bpp])))
        previous = line
    return width, height, rows


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def frames_answered(sim):
    fields = dict(w.split("=", 1) for w in sim.ok("stats").split())
    return int(fields["answered"])


def screenshots_connected(r, sim, lang):
    with tempfile.TemporaryDirectory() as out:
        before = frames_answered(sim)
        code, stdout, err = r.run("servo-tool.exe", "--lang", lang, "--connect", "COM1",
                                  "--screenshots", windows_path(out))
        expect(code == 0, f"exit status {code}\nstdout: {stdout}\nstderr: {err}")
        answered = frames_answered(sim) - before
        # The status page polls every 100 ms and the scope samples every 10 ms.
        expect(answered >= 50, f"the simulator answered only {answered} frames\n{err}")
        for page in PAGES:
            path = os.path.join(out, page + ".png")
            expect(os.path.exists(path), f"{page}.png missing\nstdout: {stdout}")
            with open(path, "rb") as f:
                width, height = struct.unpack(">II", f.read(24)[16:24])
            expect((width, height) == (1000, 730), f"{page}.png is {width} x {height}")
            expect(f"{page}.png" in stdout, stdout)
        # Curve pixels inside the plot (left of the swatches, which carry the
        # same colours).
        _, _, rows = read_png(os.path.join(out, "scope.png"))
        curve = sum(1 for row in rows[40:700] for px in row[20:840] if px in CHANNEL_COLOURS)
        expect(curve >= 200, f"the scope shows {curve} curve pixels")
        # The compare view against a model set: differing rows tinted.
        path = os.path.join(out, "compare.png")
        expect(os.path.exists(path) and "compare.png" in stdout, f"compare.png missing\n{stdout}")
        _, _, rows = read_png(path)
        tinted = sum(1 for row in rows for px in row if px == (255, 236, 179))
        expect(tinted >= 500, f"the compare view shows {tinted} highlighted pixels")
        # The bus monitor over the recording link: its rows drawn.
        path = os.path.join(out, "monitor.png")
        expect(os.path.exists(path) and "monitor.png" in stdout, f"monitor.png missing\n{stdout}")
        _, _, rows = read_png(path)
        expect(len({px for row in rows[::5] for px in row[::5]}) > 4, "monitor.png is nearly blank")
        # The status picture is not blank: the list and the group frames.
        _, _, rows = read_png(os.path.join(out, "status.png"))
        expect(len({px for row in rows[::7] for px in row[::7]}) > 8, "status.png is nearly blank")
        TAB_STRIPS[lang] = [row[0:300] for row in rows[0:25]]


# The tab titles of each language's status picture, to tell the languages apart.
TAB_STRIPS = {}


def languages_differ(_r, _sim):
    """The Chinese run shows other texts than the English one: its tab titles
    are drawn in glyphs of their own (the CJK font's), with ink in them."""
    expect("en" in TAB_STRIPS and "zh" in TAB_STRIPS, "a language run failed before")
    en, zh = TAB_STRIPS["en"], TAB_STRIPS["zh"]
    differing = sum(1 for a, b in zip(en, zh) for p, q in zip(a, b) if p != q)
    ink = sum(1 for row in zh for px in row if sum(px) < 300)
    expect(differing > 300 and ink > 150, f"{differing} pixels differ, {ink} dark in Chinese")


def connect_failure(r, _sim):
    """COM5's device does not exist: the page's own message, answered
    unattended, is on standard error; the pictures are still saved and the
    exit status says that the connection failed."""
    with tempfile.TemporaryDirectory() as out:
        code, stdout, err = r.run("servo-tool.exe", "--lang", "en", "--connect", "COM5",
                                  "--screenshots", windows_path(out))
        expect(code == 1, f"exit status {code}\nstderr: {err}")
        expect("Initialize the serial port failed!" in err and "COM5 did not connect" in err, err)
        expect(all(os.path.exists(os.path.join(out, p + ".png")) for p in PAGES), stdout)


def usage_errors(r, _sim):
    _, err = expect_status(r.run("servo-tool.exe", "--connect", "COM7"), 2)
    expect("COM1 to COM6" in err, err)
    _, err = expect_status(r.run("servo-tool.exe", "--connect", "COM1:1200"), 2)
    expect("baud rate '1200'" in err, err)
    _, err = expect_status(r.run("servo-tool.exe", "--connect", "COM1:9600:65"), 2)
    expect("station '65'" in err, err)
    _, err = expect_status(r.run("servo-tool.exe", "--demo"), 2)
    expect("--connect" in err, err)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--native-bin", required=True)
    args = parser.parse_args()
    prefix = os.path.abspath(args.prefix)
    if not os.environ.get("SERVO_WINE_DISPLAY") and not os.path.exists(prefix + ".display"):
        print("wine_gui_test.py needs a display: start the prefix's server with "
              "`wine.sh start PREFIX` (as the tests do), or run it through with_xvfb.sh")
        return 1
    r = Runner(args)
    sim = Sim(os.path.join(r.native_bin, "servo-sim"), os.path.join(r.prefix, "com1"))
    try:
        r.case("English pages, connected", screenshots_connected, sim, "en")
        r.case("Chinese pages, connected", screenshots_connected, sim, "zh")
        r.case("the Chinese tab titles are not the English ones", languages_differ, sim)
        r.case("a port that cannot open", connect_failure, sim)
        r.case("usage errors", usage_errors, sim)
    finally:
        sim.stop()
    print(f"{r.passed} passed, {r.failed} failed")
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main())
