"""What the benchmark scripts share: the build's programs, Windows programs run
under Wine with their peak memory, fixtures kept between runs, medians and the
lines that say where the figures were taken."""

import datetime
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TIME = "/usr/bin/time"
MIB = 1048576.0

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "support"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))
import desktop  # noqa: E402
from service import windows_path  # noqa: E402, F401 (for the scripts)

WINE64, WINESERVER = desktop.WINE64, desktop.WINESERVER
stop_prefix = desktop.stop_prefix


def fail(text):
    sys.stderr.write(text + "\n")
    sys.exit(1)


def program(build, rel):
    path = os.path.join(build, rel)
    if not os.path.isfile(path):
        fail("no %s: build the project first (bash tools/check.sh)" % path)
    if not os.access(TIME, os.X_OK):
        fail("%s is missing (bash tools/setup.sh installs it)" % TIME)
    return path


def wine_command(prefix, *command, display=None):
    """A command run with wine_env.sh's variables in the given prefix (and
    display). Its last word execs, so that a program started through
    /usr/bin/time is measured in the wine64 loader itself."""
    return desktop.wine_in(prefix, *command, display=display)


def boot_prefix(prefix, persistent=False):
    """A new prefix, booted and stopped again: the next program brings Wine's
    desktop up on the display it is given. A persistent server stays up
    between programs, with the services and the desktop that the first one
    started, so that no program's figure pays for starting them."""
    desktop.boot_prefix(prefix)
    if persistent:
        command, env = wine_command(prefix, WINESERVER, "-p")
        subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60, check=True)


def timed_command(time_file, *command):
    """The command under /usr/bin/time -v, whose report goes to time_file."""
    return [TIME, "-v", "-o", time_file] + list(command)


def peak_mib(time_file):
    """Peak resident memory of the process that /usr/bin/time watched."""
    with open(time_file) as f:
        match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", f.read())
    if not match:
        fail("no peak memory in " + time_file)
    return int(match.group(1)) / 1024.0


def run_bench(build, prefix, work, label, *args, display=None, copy=None):
    """Runs verandel_bench (or a copy of it, given as its path) with args under
    Wine and /usr/bin/time; fails when it fails. Output goes to a file, not a
    pipe: Wine's background services would keep a pipe open. Returns (the
    seconds it printed on its line label, peak memory in MiB)."""
    bench = copy or program(build, os.path.join("bench", "verandel_bench.exe"))
    output = os.path.join(work, args[0] + ".out")
    time_file = os.path.join(work, args[0] + ".time")
    command, env = wine_command(prefix, *timed_command(time_file, WINE64, bench, *args), display=display)
    with open(output, "wb") as out:
        code = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=1800).returncode
    with open(output, errors="replace") as f:
        text = f.read()
    match = re.search(r"^%s\s+([0-9.]+) s" % re.escape(label), text, re.M)
    if code != 0 or not match:
        fail("verandel_bench %s failed:\n%s" % (" ".join(args), text))
    return float(match.group(1)), peak_mib(time_file)


def fixture_ready(folder, stamp_text):
    """True when folder holds a fixture made with these parameters."""
    try:
        with open(os.path.join(folder, ".fixture")) as f:
            return f.read() == stamp_text
    except OSError:
        return False


def fresh_fixture(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def mark_fixture(folder, stamp_text):
    with open(os.path.join(folder, ".fixture"), "w") as f:
        f.write(stamp_text)


def median(values):
    return statistics.median(values)


def print_summary_head(title, rounds, header):
    print()
    print("== %s, median of %d ==" % (title, rounds))
    print("\n".join(header))


def machine_lines():
    cpu = platform.processor() or "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            cpu = re.search(r"^model name\s*:\s*(.*)$", f.read(), re.M).group(1)
    except (OSError, AttributeError):
        pass
    wine = subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout.strip()
    load = os.getloadavg()[0]
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return ["date      %s" % now,
            "machine   %s, %s, %d CPUs, %s, load %.1f at start" % (platform.node(), cpu, os.cpu_count(),
                                                                   wine, load)]
