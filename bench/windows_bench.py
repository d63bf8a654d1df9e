#!/usr/bin/env python3
"""Runs windows_bench.exe under Wine against servo-sim through COM1 and
prints its figures with the CPU time that the wineserver spent meanwhile
(Wine carries out part of every serial call in that separate process).

    cmake --build --preset windows && bench/windows_bench.py [COUNT]

With --native PATH it also runs a natively built windows_bench on the
simulator's pseudo-terminal, for the POSIX serial path under the same harness,
e.g. built against the default tree's libraries:

    g++ -std=c++20 -O2 -Isrc bench/windows_bench.cpp build/default/src/modbus/libservo_modbus.a \
        build/default/src/platform/libservo_platform.a -pthread -o build/default/windows_bench

Run it on a quiet machine.
"""
import argparse
import os
import select
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def ticks_of(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def wineserver_of(prefix):
    """The wineserver that serves the prefix: it works in a folder named
    after the prefix's device and inode."""
    st = os.stat(prefix)
    wanted = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/cwd")) == wanted:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().startswith("wineserver"):
                        return int(pid)
        except OSError:
            continue
    return None


def start_sim(sim, link):
    proc = subprocess.Popen([sim, "--baud", "115200", "--turnaround-us", "0", "--link", link],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    if not select.select([proc.stdout], [], [], 30)[0]:
        proc.kill()
        sys.exit("servo-sim did not start")
    ready = proc.stdout.readline().decode()
    if not ready.startswith("READY "):
        proc.kill()
        sys.exit(f"servo-sim did not start: {ready!r}")
    return proc, dict(w.split("=", 1) for w in ready.split()[1:])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("count", nargs="?", default="300")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "windows"))
    parser.add_argument("--native", help="a natively built windows_bench")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    prefix = os.path.join(build, "wineprefix")
    wine = os.path.join(ROOT, "tests", "windows", "wine.sh")
    sim = os.path.join(build, "native", "bin", "servo-sim")

    subprocess.run([wine, "start", prefix], check=True)
    server = wineserver_of(prefix)
    proc, ready = start_sim(sim, os.path.join(prefix, "com1"))
    try:
        print("== Windows (Win32 serial path under Wine), COM1")
        before = ticks_of(server) if server else None
        t0 = time.monotonic()
        subprocess.run([wine, "run", prefix, os.path.join(build, "bin", "windows_bench.exe"),
                        "COM1", args.count], check=False)
        wall = time.monotonic() - t0
        if server:
            spent = (ticks_of(server) - before) / os.sysconf("SC_CLK_TCK")
            print(f"wineserver_cpu_s {spent:.3f} over the program's {wall:.3f} s "
                  f"({100 * spent / wall:.2f} %)")
        if args.native:
            print(f"== Linux (POSIX serial path), {ready['pty']}")
            subprocess.run([args.native, ready["pty"], args.count], check=False)
    finally:
        proc.stdin.close()
        proc.terminate()
        proc.wait(10)
        subprocess.run([wine, "stop", prefix], check=False)


if __name__ == "__main__":
    main()
