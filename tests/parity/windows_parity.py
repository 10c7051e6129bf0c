#!/usr/bin/env python3
"""Runs the same command lines and scenarios through the Linux build and the Windows build
(under wine) of kelvotest with the virtual scanner, and compares standard output, standard
error and the exit code byte for byte, carriage returns aside.

The two streaming runs (ended by a key and by Ctrl-C) run under a pseudo-terminal; their
throughput lines carry clock-dependent figures, so "Total bytes transferred" and "Data Rate"
are compared with the numbers masked, and the scan file of each run is checked on its own:
not empty, a whole number of words, at least as long as the last reported total, and the
counting pattern broken only where the data flow was restarted.

Usage: windows_parity.py --linux DIR --windows DIR [--wine wine] [--keep]
DIR is the folder holding the tool, the virtual scanner and scanner3.mcs of each build.
The caller provides WINEPREFIX (an initialised prefix) and WINEDEBUG as it likes.
"""
import argparse
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SLOW_STREAM = "stream.rate = 2000000"   # a report a second, small files, no overflow under wine
IMAGE_BYTES = 3000


def distinct_bytes(count):
    return bytes((i * 7 + 3) % 251 for i in range(count))


# name, arguments, KELVOSIM settings (None: unset), files to lay in the working folder first
SCENARIOS = [
    ("usage text", ["-?"], None, {}),
    ("command-line error", ["-rb", "10", "-nonsense"], None, {}),
    ("over-long file name", ["-ini", "x" * 1100], None, {}),
    ("bring-up", [], None, {}),
    ("byte register", ["-wb", "10", "-val", "5A", "-rb", "10"], None, {}),
    ("16-bit register", ["-ww", "20", "-val", "1234", "-rw", "20"], None, {}),
    ("16-bit register, incrementing", ["-wwi", "22", "-val", "7", "-rwi", "22"], None, {}),
    ("32-bit register", ["-wd", "30", "-val", "12345678", "-rd", "30"], None, {}),
    ("32-bit register, incrementing", ["-wdi", "24", "-val", "1", "-rdi", "24"], None, {}),
    ("negative value", ["-wd", "34", "-val", "-1", "-rd", "34"], None, {}),
    ("EEPROM write, read and dump", ["-wre", "5", "-val", "42", "-rde", "5", "-dumpe", "-id", "a0"],
     None, {}),
    ("converter and DAC", ["-dao", "100", "-adread"], None, {}),
    ("temperature sensor", ["-tinit", "170", "-trd"], None, {}),
    ("motor, lines and status", ["-motor", "10", "-lines", "-stat"], "motor.revs_per_query = 1", {}),
    ("boot EEPROM programmed", ["-prg", "image.iic"], "eeprom.dir = state",
     {"image.iic": distinct_bytes(IMAGE_BYTES), "state/": None}),
    ("missing boot image", ["-prg", "missing.iic", "-rb", "10"], None, {}),
    ("interface fails to open", ["-rb", "10"], "fail.Init_Interface = -103", {}),
    ("FPGA load fails", ["-rb", "10", "-scan"], "fail.Init_Firmware = -205", {}),
    ("FPGA file missing", ["-ini", "missing.mcs", "-rb", "10"], None, {}),
    ("EEPROM read fails", ["-rde", "5", "-id", "a0"], "fail.I2C_PROM_read = -603", {}),
    ("converter out of range", ["-adread"], "adc.ch1 = 2.9; adc.noise = 0", {}),
    ("scenario mistake", ["-rb", "10"], "versoin.library = 0x0104", {}),
    ("version mismatch, close fails", ["-lines"],
     "version.library = 0x0102; version.firmware = 0x0103; fail.Free_Interface = -301", {}),
]

# Run after "boot EEPROM programmed" in the same folder: the state file carries the image.
FOLLOW_UPS = {
    "boot EEPROM programmed": ("boot EEPROM dumped from the state file", ["-dumpe", "-id", "a2"],
                               "eeprom.dir = state"),
}


def lay_files(folder, files):
    for name, content in files.items():
        path = os.path.join(folder, name)
        if name.endswith("/"):
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as out:
                out.write(content)


def environment(settings):
    env = {k: v for k, v in os.environ.items() if not k.startswith("KELVOSIM")}
    if settings is not None:
        env["KELVOSIM"] = settings
    return env


# The virtual scanner names the file it was loaded from: a path of each system's own.
LIBRARY_PATH = re.compile(rb"^(kelvosim: virtual scanner, not hardware \(library ).*\)$", re.MULTILINE)


def normalise(data):
    return LIBRARY_PATH.sub(rb"\1PATH)", data.replace(b"\r", b""))


def run_plain(command, folder, settings):
    try:
        done = subprocess.run(command, cwd=folder, env=environment(settings),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        return done.returncode, normalise(done.stdout), normalise(done.stderr)
    except subprocess.TimeoutExpired:
        return "time-out", b"", b""


REPORT = re.compile(rb"Total bytes transferred: (\d+), Data Rate: (\d+)")


def mask_figures(data):
    return REPORT.sub(b"Total bytes transferred: N, Data Rate: N", data)


def run_under_pty(command, folder, settings, ending):
    """Starts a -scanfile run with a pseudo-terminal as its console and standard output and
    standard error in files; after the third report types a key or Ctrl-C."""
    out_path = os.path.join(folder, "stdout.txt")
    err_path = os.path.join(folder, "stderr.txt")
    pid, terminal = pty.fork()
    if pid == 0:
        os.chdir(folder)
        out = os.open(out_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        err = os.open(err_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        os.dup2(out, 1)
        os.dup2(err, 2)
        os.execvpe(command[0], command, environment(settings))

    def pump(seconds):
        # The terminal's own output (wine's console, echo) is read and thrown away.
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            ready, _, _ = select.select([terminal], [], [], 0.05)
            if ready:
                try:
                    if not os.read(terminal, 65536):
                        return
                except OSError:
                    return

    def reports():
        try:
            with open(err_path, "rb") as err:
                return err.read().count(b"Errors: ")
        except FileNotFoundError:
            return 0

    deadline = time.monotonic() + 90
    while reports() < 3 and time.monotonic() < deadline:
        pump(0.05)
    code = "time-out"
    if reports() >= 3:
        os.write(terminal, b"\x03" if ending == "ctrl-c" else b"q")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            finished, status = os.waitpid(pid, os.WNOHANG)
            if finished:
                code = os.waitstatus_to_exitcode(status)
                break
            pump(0.05)
    if code == "time-out":
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
    os.close(terminal)
    with open(out_path, "rb") as out, open(err_path, "rb") as err:
        return code, normalise(out.read()), normalise(err.read())


def check_scan_file(path, stderr):
    """Returns what is wrong with the scan file, or None."""
    totals = [int(m.group(1)) for m in REPORT.finditer(stderr)]
    if not totals:
        return "no report"
    if not os.path.exists(path):
        return "no scan file"
    with open(path, "rb") as f:
        data = f.read()
    if len(data) == 0 or len(data) % 2 != 0 or len(data) < totals[-1]:
        return "scan file of %d bytes after a reported total of %d" % (len(data), totals[-1])
    restarts = set(totals[1::2])
    words = memoryview(data).cast("H")   # little-endian machine, as the file
    for i in range(1, len(words)):
        if words[i] != (words[i - 1] + 1) & 0xFFFF and 2 * i not in restarts:
            return "counting pattern broken at byte %d" % (2 * i)
    return None


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def excerpt(data, at):
    return data[max(0, at - 60):at + 60].decode("latin-1")


def compare(name, linux, windows, problems):
    for label, index in (("exit code", 0), ("standard output", 1), ("standard error", 2)):
        if linux[index] != windows[index]:
            if index == 0:
                problems.append("%s: exit code %s (Linux) vs %s (Windows)" % (name, linux[0], windows[0]))
            else:
                at = first_difference(linux[index], windows[index])
                problems.append("%s: %s differs at byte %d:\n  Linux:   %r\n  Windows: %r" %
                                (name, label, at, excerpt(linux[index], at),
                                 excerpt(windows[index], at)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--linux", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--wine", default="wine")
    parser.add_argument("--keep", action="store_true", help="keep the working folders")
    options = parser.parse_args()

    linux_tool = [os.path.abspath(os.path.join(options.linux, "kelvotest"))]
    if not os.path.exists(linux_tool[0]):
        print("no Linux build in %s: build it first (cmake --preset default && cmake --build --preset default)"
              % options.linux)
        return 1
    windows_tool = [options.wine, os.path.abspath(os.path.join(options.windows, "kelvotest.exe"))]
    root = tempfile.mkdtemp(prefix="kelvo-parity-")
    passed, failed = 0, 0
    try:
        runs = []
        for name, args, settings, files in SCENARIOS:
            runs.append((name, args, settings, files, None))
            if name in FOLLOW_UPS:
                follow_name, follow_args, follow_settings = FOLLOW_UPS[name]
                runs.append((follow_name, follow_args, follow_settings, None, name))
        for ending in ("key", "ctrl-c"):
            runs.append(("scan file ended by " + ending, ["-scanfile", "scan.bin"], SLOW_STREAM,
                         {}, "pty:" + ending))

        folders = {}
        for number, (name, args, settings, files, mode) in enumerate(runs):
            problems = []
            results = {}
            for platform, tool in (("linux", linux_tool), ("windows", windows_tool)):
                if files is None:   # a follow-up: the same folder as the run before it
                    folder = folders[(mode, platform)]
                else:
                    folder = os.path.join(root, "%02d-%s" % (number, platform))
                    os.makedirs(folder)
                    lay_files(folder, files)
                folders[(name, platform)] = folder
                if mode is not None and mode.startswith("pty:"):
                    result = run_under_pty(tool + args, folder, settings, mode[4:])
                    trouble = check_scan_file(os.path.join(folder, "scan.bin"), result[2])
                    if trouble:
                        problems.append("%s (%s): %s" % (name, platform, trouble))
                    result = (result[0], result[1], mask_figures(result[2]))
                else:
                    result = run_plain(tool + args, folder, settings)
                results[platform] = result
            compare(name, results["linux"], results["windows"], problems)
            if name.startswith("boot EEPROM"):
                state = [os.path.join(folders[(name, p)], "state", "eeprom_a2.bin")
                         for p in ("linux", "windows")]
                contents = []
                for path in state:
                    with open(path, "rb") as f:
                        contents.append(f.read())
                if contents[0] != contents[1] or contents[0][:IMAGE_BYTES] != distinct_bytes(IMAGE_BYTES):
                    problems.append("%s: the boot EEPROM state files differ or miss the image" % name)
            if problems:
                failed += 1
                print("FAIL  %s" % name)
                for problem in problems:
                    print("      " + problem)
            else:
                passed += 1
                print("ok    %s (exit %s, %d + %d bytes)" %
                      (name, results["linux"][0], len(results["linux"][1]), len(results["linux"][2])))
    finally:
        if options.keep:
            print("working folders kept in " + root)
        else:
            shutil.rmtree(root, ignore_errors=True)
    print("parity: %d transcripts compared" % (passed + failed))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
