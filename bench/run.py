#!/usr/bin/python3
"""The benchmark harness: one generated mailbox, measured three ways in the same run.

    bench/run.py [--messages N] [--folders F] [--seed S] [--min-kb A] [--max-kb B]
                 [--attach-share X] [--build DIR] [--work DIR] [--keep]

It generates a mailbox tree with bench/gen_mailbox.py (deterministic for the seed), reads it once so
every measurement starts from a warm cache, then times
  - `cp -r` of the tree (the I/O floor; the best of three),
  - parsing every message file with the MIME layer alone (the parse floor, bench_parse), and with
    GMime reading every file (bench_parse --gmime), as the layer did before it had a parser of its
    own for well-formed mail,
  - the conversion with quillsort-convert into one .pst,
and prints time, messages per second, MB/s and peak RSS of each, and the ratios of the conversion
to both floors. Run it on an idle machine; compare ratios, not seconds, between machines.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def measure(cmd, **kwargs):
    """Runs cmd; returns (seconds, peak RSS in MB, completed stdout+stderr)."""
    # Dirty pages left by an earlier step would be written back during this one.
    subprocess.run(["sync"], check=True)
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                            **kwargs)
    out = proc.stdout.read()
    _pid, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"{' '.join(cmd)} failed ({code}):\n{out.decode(errors='replace')[-3000:]}")
    return seconds, usage.ru_maxrss / 1024, out.decode(errors="replace")


def tree_size(path):
    files = messages = size = 0
    for root, _dirs, names in os.walk(path):
        for n in names:
            files += 1
            size += os.path.getsize(os.path.join(root, n))
            messages += n.lower().endswith((".eml", ".emlx"))
    return files, messages, size


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--messages", type=int, default=10000)
    p.add_argument("--folders", type=int, default=200)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--min-kb", type=float, default=1)
    p.add_argument("--max-kb", type=float, default=10240)
    p.add_argument("--attach-share", type=float, default=1 / 3)
    p.add_argument("--build", default=os.path.join(ROOT, "build"))
    p.add_argument("--work", default=None, help="folder for the mailbox and outputs (a temporary one by default)")
    p.add_argument("--keep", action="store_true", help="keep the generated mailbox and outputs")
    a = p.parse_args()

    work = a.work or tempfile.mkdtemp(prefix="quill-bench-")
    os.makedirs(work, exist_ok=True)
    mailbox = os.path.join(work, f"mailbox-{a.messages}-{a.folders}-{a.seed}-{a.min_kb}-{a.max_kb}-{a.attach_share:.3f}")
    if not os.path.isdir(mailbox):
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "gen_mailbox.py"), mailbox, "--messages", str(a.messages),
                        "--folders", str(a.folders), "--seed", str(a.seed), "--min-kb", str(a.min_kb),
                        "--max-kb", str(a.max_kb), "--attach-share", str(a.attach_share)], check=True)
    files, messages, size = tree_size(mailbox)
    mb = size / 1e6
    subprocess.run(["sh", "-c", f"find '{mailbox}' -type f -exec cat {{}} + > /dev/null"], check=True)  # warm

    # The copy is the noisiest step (it competes with write-back): the best of three counts.
    copy = os.path.join(work, "copy")
    cp_s, cp_rss = float("inf"), 0
    for _ in range(3):
        shutil.rmtree(copy, ignore_errors=True)
        s, rss, _ = measure(["cp", "-r", mailbox, copy])
        cp_s, cp_rss = min(cp_s, s), max(cp_rss, rss)
    shutil.rmtree(copy, ignore_errors=True)
    parse_s, parse_rss, _ = measure([os.path.join(a.build, "bench", "bench_parse"), mailbox])
    gmime_s, gmime_rss, _ = measure([os.path.join(a.build, "bench", "bench_parse"), "--gmime", mailbox])
    out = os.path.join(work, "out.pst")
    if os.path.exists(out):
        os.remove(out)
    conv_s, conv_rss, log = measure([os.path.join(a.build, "cli", "quillsort-convert"), mailbox, out])
    pst_mb = os.path.getsize(out) / 1e6

    print(f"mailbox: {messages} messages ({files} files), {mb:.1f} MB, {a.folders} folders, seed {a.seed}, "
          f"sizes {a.min_kb:g}-{a.max_kb:g} KB, attachments {a.attach_share:.2f}")
    print(f"{'step':<12}{'seconds':>9}{'msgs/s':>10}{'MB/s':>9}{'peak RSS MB':>13}")
    for name, s, rss in (("cp -r", cp_s, cp_rss), ("parse only", parse_s, parse_rss),
                         ("parse GMime", gmime_s, gmime_rss), ("convert", conv_s, conv_rss)):
        print(f"{name:<12}{s:>9.2f}{messages / s:>10.0f}{mb / s:>9.1f}{rss:>13.0f}")
    print(f"convert / cp -r: {conv_s / cp_s:.2f}   convert / parse: {conv_s / parse_s:.2f}   .pst: {pst_mb:.1f} MB")
    summary = [line for line in log.splitlines() if "converted" in line or "failed" in line]
    print("converter:", "; ".join(summary[-2:]))
    if not a.keep and a.work is None:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
