#!/usr/bin/python3
"""Hostile input: memory and stopping on message files built to hurt.

    bench/hostile.py [--build DIR] [--work DIR] [--big-mb N] [--parts N] [--keep]

Builds each input in a folder of its own under a temporary directory and converts it with
quillsort-convert under /usr/bin/time -v:
  - sparse:    a 2 GiB sparse file named .eml (a header, then a hole),
  - zero:      a symbolic link named .eml to /dev/zero,
  - big:       one message of about N MB (default 300) with one base64 attachment,
  - parts:     one multipart message of N parts (default 100,000), each a small attachment.
For each it prints the time, the peak RSS and the bound the converter promises: the largest
message file it accepts in that run + 100 MB (a refused file counts 0). Then it converts the big
message again, sends SIGINT a second into it and prints the time from the signal to the exit.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MB = 1000 * 1000


def write_sparse(folder):
    path = os.path.join(folder, "sparse.eml")
    with open(path, "wb") as f:
        f.write(b"From: a@example.org\nSubject: sparse\n\nbody\n")
        f.truncate(2 << 30)


def write_zero(folder):
    os.symlink("/dev/zero", os.path.join(folder, "zero.eml"))


def write_big(folder, megabytes):
    line = b"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\n"
    lines = megabytes * MB // len(line)
    with open(os.path.join(folder, "big.eml"), "wb") as f:
        f.write(b"From: a@example.org\nTo: b@example.org\nSubject: big\nMIME-Version: 1.0\n"
                b"Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n--b\n"
                b"Content-Type: application/octet-stream; name=\"big.bin\"\nContent-Transfer-Encoding: base64\n\n")
        chunk = line * 10000
        for _ in range(lines // 10000):
            f.write(chunk)
        f.write(b"--b--\n")


def write_parts(folder, parts):
    with open(os.path.join(folder, "parts.eml"), "wb") as f:
        f.write(b"From: a@example.org\nSubject: many parts\nMIME-Version: 1.0\n"
                b"Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n")
        for i in range(parts):
            f.write(b"--b\nContent-Type: text/plain; name=\"p%d.txt\"\n\npart %d\n" % (i, i))
        f.write(b"--b--\n")


def accepted_bytes(folder, cap):
    """The size of the largest regular message file in `folder` the converter accepts."""
    largest = 0
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if os.path.isfile(path) and os.stat(path).st_size <= cap:
            largest = max(largest, os.stat(path).st_size)
    return largest


def convert(exe, folder, target):
    """Runs the conversion under /usr/bin/time -v; returns (seconds, peak RSS in bytes, output)."""
    subprocess.run(["sync"], check=True)
    proc = subprocess.run(["/usr/bin/time", "-v", exe, "--overwrite", folder, target],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", proc.stderr).group(1)) * 1024
    wall = re.search(r"Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (\S+)", proc.stderr).group(1)
    seconds = 0.0
    for part in wall.split(":"):
        seconds = seconds * 60 + float(part)
    return seconds, rss, proc.stdout + proc.stderr


def stop_during(exe, folder, target, delay):
    """Starts a conversion, sends SIGINT after `delay` seconds; returns seconds from signal to exit."""
    proc = subprocess.Popen([exe, "--overwrite", folder, target], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(delay)
    if proc.poll() is not None:
        return None
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    proc.wait()
    return time.monotonic() - sent


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default=None, help="where to build the inputs (default: a temporary folder)")
    ap.add_argument("--big-mb", type=int, default=300)
    ap.add_argument("--parts", type=int, default=100000)
    ap.add_argument("--cap-mib", type=int, default=512, help="the converter's message file size cap")
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()

    exe = os.path.join(args.build, "cli", "quillsort-convert")
    if not os.access(exe, os.X_OK):
        sys.exit(f"{exe} not found: build first")
    work = tempfile.mkdtemp(prefix="quill-hostile-", dir=args.work)
    cap = args.cap_mib << 20
    try:
        cases = [("sparse 2 GiB", write_sparse), ("link to /dev/zero", write_zero),
                 (f"{args.big_mb} MB, one base64 attachment", lambda d: write_big(d, args.big_mb)),
                 (f"{args.parts:,} parts", lambda d: write_parts(d, args.parts))]
        print(f"{'input':34} {'time':>8} {'peak RSS':>10} {'bound':>10}  met  result")
        for i, (label, build) in enumerate(cases):
            folder = os.path.join(work, f"case{i}")
            os.makedirs(folder)
            build(folder)
            bound = accepted_bytes(folder, cap) + 100 * MB
            seconds, rss, out = convert(exe, folder, os.path.join(work, f"case{i}.pst"))
            summary = [l.strip() for l in out.splitlines() if "converted" in l or "not converted" in l or "failed" in l]
            print(f"{label:34} {seconds:7.2f}s {rss / MB:8.1f}MB {bound / MB:8.1f}MB  {'yes' if rss <= bound else 'NO '}"
                  f"  {summary[0] if summary else ''}")
            for line in out.splitlines():
                if "    " in line and (".eml" in line):
                    print(f"{'':34}   {line.strip()[:120]}")
            if i != 2:
                shutil.rmtree(folder)
        big = os.path.join(work, "case2")
        for delay in (1.0, 2.0):
            took = stop_during(exe, big, os.path.join(work, "stopped.pst"), delay)
            if took is None:
                print(f"SIGINT {delay:.0f} s into the big message: the run had ended already")
            else:
                print(f"SIGINT {delay:.0f} s into the big message: exit {took:.2f} s after the signal")
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"inputs kept in {work}")


if __name__ == "__main__":
    main()
