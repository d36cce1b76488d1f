#!/usr/bin/env python3
"""`diskvigil-cli monitor --history` killed with SIGKILL at random moments, again and again, on the
demo drives. After every kill the history file must pass SQLite's integrity check, keep every row
it had before, and hold the last pass the monitor printed (it prints a pass after writing it), so
a kill costs at most the pass being written.

Usage: history-kill-test.py DISKVIGIL_CLI [KILLS]   (KILLS defaults to $DISKVIGIL_HISTORY_KILLS or
1000). Exit 77 (skipped) without Python's sqlite3 module.
"""
import calendar
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import sqlite3
except ImportError:
    print("skipped: no sqlite3 module")
    sys.exit(77)

# The demo drives with S.M.A.R.T. on: each pass writes one row for each.
MONITORED_DRIVES = 5


def pass_times(output_path):
    """Unix times of the pass lines printed ("YYYY-MM-DD HH:MM:SS  [1] ..."), run under TZ=UTC."""
    times = []
    with open(output_path, encoding="utf-8", errors="replace") as output:
        for line in output:
            if line.endswith("\n") and "pass:" in line:
                times.append(calendar.timegm(time.strptime(line[:19], "%Y-%m-%d %H:%M:%S")))
    return times


def check(path):
    """(integrity_check's answer, number of rows, rows of each time)."""
    db = sqlite3.connect(path, timeout=10)
    try:
        integrity = db.execute("PRAGMA integrity_check").fetchone()[0]
        if integrity != "ok":
            return integrity, 0, {}
        if not db.execute("SELECT count(*) FROM sqlite_schema WHERE name = 'samples'").fetchone()[0]:
            return "ok", 0, {}  # killed before the schema was committed
        rows = db.execute("SELECT count(*) FROM samples").fetchone()[0]
        per_time = dict(db.execute("SELECT time, count(*) FROM samples GROUP BY time"))
        return "ok", rows, per_time
    finally:
        db.close()


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    cli = sys.argv[1]
    kills = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get("DISKVIGIL_HISTORY_KILLS", 1000))
    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    folder = tempfile.mkdtemp(prefix="dv-history-kill-", dir=base)
    env = dict(os.environ, XDG_STATE_HOME=folder, TZ="UTC")
    env.pop("DISKVIGIL_SIMULATE", None)
    path = os.path.join(folder, "diskvigil", "history.sqlite")
    output_path = os.path.join(folder, "out.txt")
    # The kills spread from the start-up to a few hundred passes later, however slow this build
    # starts (a sanitizer build takes several times longer to reach its first pass).
    os.makedirs(os.path.dirname(path), exist_ok=True)
    started = time.monotonic()
    subprocess.run([cli, "--demo", "monitor", "--history", "--interval", "0", "--count", "1"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, check=False)
    window = 2.5 * (time.monotonic() - started) + 0.03
    rng = random.Random(20261208)
    failures = []
    rows_before = 0
    printed_total = 0
    after_a_pass = 0  # kills that came after the monitor had printed a pass
    inside = 0  # kills that found the journal holding frames: the writer had the file open
    try:
        for kill in range(kills):
            with open(output_path, "w") as output:
                child = subprocess.Popen(
                    [cli, "--demo", "monitor", "--history", "--interval", "0"],
                    stdout=output, stderr=subprocess.DEVNULL, env=env)
                time.sleep(rng.uniform(0, window))
                child.kill()
                child.wait()
            printed = pass_times(output_path)
            printed_total += len(printed)
            after_a_pass += 1 if printed else 0
            if not os.path.exists(path):
                continue
            wal = path + "-wal"
            if os.path.exists(wal) and os.path.getsize(wal) > 0:
                inside += 1
            integrity, rows, per_time = check(path)
            if integrity != "ok":
                failures.append(f"kill {kill}: integrity_check: {integrity}")
            if rows < rows_before:
                failures.append(f"kill {kill}: rows went from {rows_before} to {rows}")
            if printed and per_time.get(printed[-1], 0) < MONITORED_DRIVES:
                failures.append(f"kill {kill}: the last printed pass is not all there")
            rows_before = max(rows, rows_before)
            if failures:
                break
        if os.path.exists(path + ".bad"):
            failures.append("the history file was set aside")
        listed = subprocess.run([cli, "--demo", "history", "1", "--csv"], env=env,
                                capture_output=True, text=True)
        if listed.returncode != 0:
            failures.append("history after the kills: " + listed.stderr.strip())
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"kills: {kills} (window {window * 1000:.0f} ms), after a printed pass: {after_a_pass}, "
          f"passes printed: {printed_total}, rows kept: {rows_before}, "
          f"kills with the journal in use: {inside}")
    for failure in failures:
        print("FAIL:", failure)
    if not failures and after_a_pass < kills // 4:
        print(f"FAIL: only {after_a_pass} kills came after a printed pass: too few were tested")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
