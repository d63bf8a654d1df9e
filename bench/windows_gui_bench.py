#!/usr/bin/env python3
"""The Windows GUI's figures under Wine, on a virtual display of their own,
beside the Linux ones measured in the same run:

    cmake --build --preset windows && cmake --build --preset default --target plot_bench servo-tool
    tests/windows/with_xvfb.sh bench/windows_gui_bench.py [--starts 5]

- the scope plot, 3 channels x 20000 points, rendered through GDI
  (windows_gui_bench.exe render) and through Qt (plot_bench, offscreen);
- the time from the process's creation to the first painted main window
  (windows_gui_bench.exe startup, median of --starts fresh processes);
- servo-tool --lang en --screenshots DIR from start to exit, unconnected, on
  both systems (the same sequence: three pages, 1.2 s of it fixed waits).

Wall times on a loaded machine mostly measure the load: compare the CPU
times, and run it on a quiet machine.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.path.join(ROOT, "tests", "windows", "wine.sh")
PREFIX = os.path.join(ROOT, "build", "windows", "wineprefix")
WIN_BIN = os.path.join(ROOT, "build", "windows", "bin")
LINUX_BIN = os.path.join(ROOT, "build", "default", "bin")


def wine(*args):
    return subprocess.run([WINE, "run", PREFIX, *args], cwd=WIN_BIN, capture_output=True,
                          text=True, timeout=300)


def seconds(command, **kw):
    start = time.monotonic()
    r = subprocess.run(command, capture_output=True, text=True, timeout=300, **kw)
    if r.returncode != 0:
        sys.exit(f"{command[0]} failed: {r.stderr}")
    return time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--renders", type=int, default=60)
    args = parser.parse_args()
    if not os.environ.get("SERVO_WINE_DISPLAY"):
        sys.exit("run it through tests/windows/with_xvfb.sh")
    subprocess.run([WINE, "start", PREFIX], check=True)
    try:
        print("--- scope render, 3 x 20000 points")
        print("Windows (GDI, Wine):")
        print(wine("windows_gui_bench.exe", "render", str(args.renders)).stdout, end="")
        plot_bench = os.path.join(LINUX_BIN, "plot_bench")
        if os.path.exists(plot_bench):
            print("Linux (Qt, offscreen), plot_bench medians (wall, CPU):")
            r = subprocess.run([plot_bench, "--benchmark_repetitions=5",
                                "--benchmark_report_aggregates_only=true",
                                "--benchmark_filter=Render|Draw"],
                               capture_output=True, text=True, timeout=600,
                               env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
            print("".join(f"  {line}\n" for line in r.stdout.splitlines() if "median" in line),
                  end="")

        print(f"--- start to the first painted main window (median of {args.starts})")
        starts = []
        for _ in range(args.starts):
            out = wine("windows_gui_bench.exe", "startup").stdout
            starts.append(float(out.split(":")[1].split()[0]))
        print(f"Windows (Wine): {statistics.median(starts):.0f} ms  "
              f"(runs: {', '.join(f'{s:.0f}' for s in starts)})")

        print(f"--- servo-tool --lang en --screenshots, start to exit (median of {args.starts})")
        with tempfile.TemporaryDirectory() as out:
            win = [seconds([WINE, "run", PREFIX, "servo-tool.exe", "--lang", "en",
                            "--screenshots", "Z:" + out.replace("/", "\\")], cwd=WIN_BIN)
                   for _ in range(args.starts)]
            print(f"Windows (Wine): {statistics.median(win):.2f} s")
            linux = os.path.join(LINUX_BIN, "servo-tool")
            if os.path.exists(linux):
                env = {**os.environ, "QT_QPA_PLATFORM": "offscreen"}
                lin = [seconds([linux, "--lang", "en", "--screenshots", out], env=env)
                       for _ in range(args.starts)]
                print(f"Linux (Qt, offscreen): {statistics.median(lin):.2f} s")
    finally:
        subprocess.run([WINE, "stop", PREFIX])


if __name__ == "__main__":
    main()
