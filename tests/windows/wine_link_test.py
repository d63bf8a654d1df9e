#!/usr/bin/env python3
"""servoctl.exe and the Win32 serial port under Wine, against the Linux
servo-sim on a pseudo-terminal that Wine maps to COM1.

    wine_link_test.py --wine tests/windows/wine.sh --prefix PREFIX \
        --bin build/windows/bin --native-bin build/windows/native/bin

The prefix maps COM1 to PREFIX/com1 (wine.sh init), the link that the
simulator makes to its pty, and COM5 to a device that does not exist. Every
program runs with a time limit: a hang is a failure, never a stuck test.
Prints one line per case and ends with "N passed, M failed".
"""
import argparse
import json
import os
import select
import subprocess
import sys
import tempfile
import time
import traceback

# Longest any one Windows program may take; a hang shows up as a failure.
RUN_LIMIT_S = 60


class Sim:
    """servo-sim with its control commands on standard input and output."""

    def __init__(self, executable, link, extra=()):
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(
            [executable, "--link", link, *extra],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.err)
        self.buffer = b""
        self.ready = self._line(30)
        if not self.ready.startswith("READY "):
            raise RuntimeError(f"servo-sim did not start: {self.ready!r} {self.errors()}")

    def _line(self, timeout):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise RuntimeError(f"servo-sim did not answer in {timeout} s; {self.errors()}")
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                raise RuntimeError(f"servo-sim ended; {self.errors()}")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode()

    def ok(self, command):
        """Sends a control command that must answer OK; returns the rest."""
        self.proc.stdin.write(command.encode() + b"\n")
        self.proc.stdin.flush()
        answer = self._line(10)
        if answer != "OK" and not answer.startswith("OK "):
            raise AssertionError(f"servo-sim: {command!r} answered {answer!r}")
        return answer[3:]

    def errors(self):
        self.err.seek(0)
        return self.err.read().decode(errors="replace")

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.ok("quit")
            except (RuntimeError, AssertionError, OSError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode


class Runner:
    def __init__(self, args):
        self.wine = args.wine
        self.prefix = os.path.abspath(args.prefix)
        self.bin = os.path.abspath(args.bin)
        self.native_bin = os.path.abspath(args.native_bin)
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("SERVO_COM")}
        self.passed = 0
        self.failed = 0

    def run(self, exe, *args, env=None, timeout=RUN_LIMIT_S):
        """Runs a Windows program of the build under Wine: (status, out, err)."""
        start = time.monotonic()
        try:
            r = subprocess.run(
                [self.wine, "run", self.prefix, os.path.join(self.bin, exe), *args],
                cwd=self.bin, env={**self.env, **(env or {})}, capture_output=True,
                timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"{exe} {' '.join(args)} did not end within {timeout} s")
        self.last_seconds = time.monotonic() - start
        return r.returncode, r.stdout.decode(errors="replace"), r.stderr.decode(errors="replace")

    def servoctl(self, *args, port="COM1", timeout_ms=200, retries=1):
        return self.run("servoctl.exe", "--port", port, "--timeout", str(timeout_ms),
                        "--retries", str(retries), *args)

    def case(self, name, function, *args):
        try:
            function(self, *args)
        except Exception:  # a failed check or an error of the harness alike
            self.failed += 1
            print(f"FAIL {name}\n{traceback.format_exc()}", flush=True)
        else:
            self.passed += 1
            print(f"ok   {name}", flush=True)


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def expect_status(result, status):
    code, out, err = result
    expect(code == status, f"exit status {code}, expected {status}\nstdout: {out}\nstderr: {err}")
    return out, err


# --- cases with the simulator running

def probe(r, sim):
    out, _ = expect_status(r.servoctl("probe"), 0)
    expect(out.startswith("drive answered: register 0 = "), out)


def registers(r, sim):
    sim.ok("set reg 30 777")
    out, _ = expect_status(r.servoctl("read-regs", "29", "3"), 0)
    expect(out.splitlines()[1] == "777", out)
    sim.ok("set reg 30 4242")
    out, _ = expect_status(r.servoctl("--json", "read-regs", "30", "1"), 0)
    expect(json.loads(out) == {"ok": True, "address": 30, "values": [4242]}, out)
    sim.ok("release reg 30")

    # Register 22 takes 1..65535: one value by function 6.
    expect_status(r.servoctl("write-regs", "22", "4321"), 0)
    expect(sim.ok("get reg 22") == "4321", "register 22 after the write")
    out, _ = expect_status(r.servoctl("read-regs", "22", "1"), 0)
    expect(out.splitlines() == ["4321"], out)
    # Out of range: exception 03, and the register keeps its value.
    _, err = expect_status(r.servoctl("write-regs", "22", "0"), 5)
    expect("exception response 03" in err, err)
    expect(sim.ok("get reg 22") == "4321", "a refused write changes nothing")
    # Outside the parameter map reads give 0.
    out, _ = expect_status(r.servoctl("--json", "read-regs", "60000", "2"), 0)
    expect(json.loads(out)["values"] == [0, 0], out)


def coils(r, sim):
    expect_status(r.servoctl("write-coils", "0", "1", "0", "1"), 0)
    out, _ = expect_status(r.servoctl("--json", "read-coils", "0", "4"), 0)
    expect(json.loads(out)["values"] == [1, 0, 1, 0], out)
    expect(sim.ok("get coil 2") == "1", "coil 2 after function 15")
    # One coil: function 5.
    expect_status(r.servoctl("write-coils", "2", "0"), 0)
    expect(sim.ok("get coil 2") == "0", "coil 2 after function 5")
    sim.ok("set coil 7 1")
    out, _ = expect_status(r.servoctl("read-coils", "5", "3"), 0)
    expect(out.split() == ["0", "0", "1"], out)


def inputs(r, sim):
    sim.ok("set input 3 1")
    sim.ok("set input 9 0")
    out, _ = expect_status(r.servoctl("--json", "read-inputs", "3", "7"), 0)
    values = json.loads(out)["values"]
    expect(values[0] == 1 and values[6] == 0, out)
    sim.ok("set input 3 0")
    sim.ok("set input 9 1")
    out, _ = expect_status(r.servoctl("--json", "read-inputs", "3", "7"), 0)
    values = json.loads(out)["values"]
    expect(values[0] == 0 and values[6] == 1, out)
    sim.ok("release all")


def faults(r, sim):
    sim.ok("noanswer on")
    try:
        _, err = expect_status(r.servoctl("probe", timeout_ms=100, retries=1), 3)
        expect("time-out" in err, err)
    finally:
        sim.ok("faults off")
    sim.ok("badcrc on")
    try:
        _, err = expect_status(r.servoctl("probe"), 4)
        expect("checksum" in err, err)
    finally:
        sim.ok("faults off")
    sim.ok("wrongstation on")
    try:
        _, err = expect_status(r.servoctl("probe"), 6)
        expect("wrong station" in err, err)
    finally:
        sim.ok("faults off")
    expect_status(r.servoctl("probe"), 0)


def missing_ports(r, sim):
    # COM5's device does not exist; \\.\COM99 is mapped to nothing at all.
    _, err = expect_status(r.servoctl("probe", port="COM5"), 7)
    expect("COM5" in err and "cannot open" in err, err)
    _, err = expect_status(r.servoctl("probe", port="\\\\.\\COM99"), 7)
    expect("no such port" in err, err)


def serial_line(r, sim):
    code, out, err = r.run("serial_line_tests.exe", "--gtest_filter=SerialLine.*")
    expect(code == 0 and "[  PASSED  ]" in out, f"status {code}\n{out}\n{err}")


# --- cases without the simulator

def vanishing_device(r, native_sim):
    """The simulator ends while the Windows program holds COM1."""
    with tempfile.TemporaryDirectory() as handshake:
        sim = Sim(native_sim, os.path.join(r.prefix, "com1"))
        env = {"SERVO_TEST_HANDSHAKE_DIR": "Z:" + handshake.replace("/", "\\")}
        proc = subprocess.Popen(
            [r.wine, "run", r.prefix, os.path.join(r.bin, "serial_line_tests.exe"),
             "--gtest_filter=SerialLineVanish.*"],
            cwd=r.bin, env={**r.env, **env}, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 30
            while not os.path.exists(os.path.join(handshake, "opened")):
                expect(time.monotonic() < deadline and proc.poll() is None,
                       "the test program did not open COM1")
                time.sleep(0.05)
            sim.stop()
            open(os.path.join(handshake, "vanished"), "w").close()
            out, _ = proc.communicate(timeout=RUN_LIMIT_S)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            sim.stop()
        text = out.decode(errors="replace")
        expect(proc.returncode == 0 and "[  PASSED  ]" in text, text)


def offline_checks_match_linux(r, _):
    """The data layer reads the shipped files on Windows as on Linux."""
    native = os.path.join(r.native_bin, "servoctl")
    for name in ("Language/Define.cfg", "Language/DefineEn.cfg"):
        code, out, err = r.run("servoctl.exe", "defs", name, "--json")
        expect(code == 0, f"{name}: status {code} {err}")
        linux = subprocess.run([native, "defs", name, "--json"], cwd=r.native_bin,
                               capture_output=True, timeout=RUN_LIMIT_S)
        expect(linux.returncode == 0, linux.stderr)
        expect(json.loads(out) == json.loads(linux.stdout), f"{name}: Windows and Linux differ")
    code, _, err = r.run("servoctl.exe", "ini", "no-such-system.ini")
    expect(code == 1 and "no-such-system.ini" in err, err)
    code, _, err = r.run("servoctl.exe", "read-regs", "0", "1")
    expect(code == 2 and "--port" in err, err)


def port_list(r, _):
    """The registry's port list names the ports the prefix maps, in number order."""
    out, _ = expect_status(r.run("servoctl.exe", "ports", "--json"), 0)
    devices = [p["device"] for p in json.loads(out)]
    expect("COM1" in devices and "COM5" in devices, devices)
    numbers = [int(d[3:]) for d in devices if d.upper().startswith("COM")]
    expect(numbers == sorted(numbers), devices)
    com1 = next(p for p in json.loads(out) if p["device"] == "COM1")
    expect(com1["com"] == ["COM1"], com1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--native-bin", required=True)
    args = parser.parse_args()
    r = Runner(args)
    native_sim = os.path.join(r.native_bin, "servo-sim")

    r.case("offline checks match Linux", offline_checks_match_linux, None)
    r.case("port list", port_list, None)
    sim = Sim(native_sim, os.path.join(r.prefix, "com1"))
    try:
        for name, function in (("probe", probe), ("registers", registers), ("coils", coils),
                               ("inputs", inputs), ("faults", faults),
                               ("missing ports", missing_ports),
                               ("serial port on the line", serial_line)):
            r.case(name, function, sim)
    finally:
        sim.stop()
    r.case("vanishing device", vanishing_device, native_sim)

    print(f"{r.passed} passed, {r.failed} failed")
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main())
