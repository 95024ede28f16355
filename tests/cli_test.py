#!/usr/bin/python3
"""End-to-end tests of quillsort-convert: real folders in, real .pst files out, read back by
python3-pypff and checked by pstcheck.

    cli_test.py BUILD_DIR SOURCE_DIR
"""
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

BUILD = SOURCE = None


def convert(*args, **kwargs):
    return subprocess.run([os.path.join(BUILD, "cli", "quillsort-convert"), *args], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, **kwargs)


def pypff_tree(pst):
    out = subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tests", "readers", "pst_dump.py"), "pypff", pst],
                         capture_output=True, text=True, check=True)
    return json.loads(out.stdout)


def folder(tree, *names):
    """The folder below the store's top folder at the path `names`."""
    node = next(f for f in tree["folders"] if f["name"] == "Top of Personal Folders")
    for name in names:
        node = next(f for f in node["folders"] if f["name"] == name)
    return node


def subjects(node):
    return sorted(m["subject"] for m in node["messages"])


def pstcheck(pst):
    return subprocess.run([os.path.join(BUILD, "pst", "read", "pstcheck"), pst], capture_output=True, text=True)


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as fh:
        fh.write(text)


def mail(subject):
    return f"From: A <a@example.org>\nTo: B <b@example.org>\nSubject: {subject}\nDate: Mon, 02 Nov 2026 09:15:00 +0100\n\nbody\n"


class ConvertTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quill-cli-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def test_sample_mailbox_converts_into_the_folders_it_came_from(self):
        target = self.path("Mail.pst")
        run = convert(os.path.join(SOURCE, "samples", "Mail"), target)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertIn("7 message(s) converted into 1 data file(s)", run.stderr)
        self.assertEqual(pstcheck(target).returncode, 0, pstcheck(target).stdout)
        tree = pypff_tree(target)
        self.assertEqual(subjects(folder(tree, "Inbox")),
                         ["Notes from the Köln meeting", "Weekly figures (attached)", "Welcome to the sample mailbox"])
        self.assertEqual(subjects(folder(tree, "Projects", "Archive")), ["The old plan"])
        self.assertEqual(subjects(folder(tree, "Apple Mail")), ["Sent from Apple Mail"])
        report = next(m for m in folder(tree, "Inbox")["messages"] if m["subject"].startswith("Weekly"))
        self.assertEqual([a["size"] for a in report["attachments"]], [44])
        self.assertEqual(os.listdir(self.dir), ["Mail.pst"])  # no temporary file left

    def test_a_folder_as_target_gets_the_proposed_name(self):
        write(self.path("src", "Inbox", "a.eml"), mail("one"))
        run = convert(self.path("src", "Inbox"), self.dir)
        self.assertEqual(run.returncode, 0, run.stderr)
        made = glob.glob(self.path("Inbox*.pst"))
        self.assertEqual(len(made), 1, os.listdir(self.dir))
        # "Inbox" + d.m.YY H.m.ss + ".pst"
        self.assertRegex(os.path.basename(made[0]), r"^Inbox\d{1,2}\.\d{1,2}\.\d\d \d{1,2}\.\d{1,2}\.\d\d\.pst$")

    def test_an_existing_target_is_replaced_only_when_asked(self):
        write(self.path("src", "a.eml"), mail("fresh"))
        target = self.path("old.pst")
        write(target, "an older data file")
        run = convert(self.path("src"), target)
        self.assertEqual(run.returncode, 1)
        self.assertIn("already exists", run.stderr)
        with open(target) as fh:
            self.assertEqual(fh.read(), "an older data file")
        run = convert("--overwrite", self.path("src"), target)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(subjects(folder(pypff_tree(target))), ["fresh"])

    def test_missing_source_and_bad_arguments(self):
        run = convert(self.path("nowhere"), self.path("x.pst"))
        self.assertEqual(run.returncode, 1)
        self.assertIn("does not exist", run.stderr)
        self.assertEqual(convert("--bogus", "a", "b").returncode, 2)
        self.assertEqual(convert("only-one").returncode, 2)
        self.assertEqual(convert("--help").returncode, 0)
        run = convert("--multiple", self.path("nowhere"), self.dir)
        self.assertEqual(run.returncode, 1)
        self.assertFalse(glob.glob(self.path("*.pst")))

    def test_the_converter_allocates_through_jemalloc(self):
        # A linker that drops the allocator leaves everything working, only slower: ask it to
        # report itself at exit.
        run = convert("--help", env=dict(os.environ, MALLOC_CONF="stats_print:true"))
        self.assertEqual(run.returncode, 0)
        self.assertIn("jemalloc statistics", run.stderr + run.stdout)

    def test_multiple_mode_names_files_after_folders_and_never_overwrites(self):
        write(self.path("users", "ann", "Inbox", "a.eml"), mail("for ann"))
        write(self.path("users", "bob", "b.eml"), mail("for bob"))
        os.makedirs(self.path("users", ".hidden"))
        os.makedirs(self.path("out"))
        write(self.path("out", "bob.pst"), "keep me")
        run = convert("--multiple", self.path("users"), self.path("out"))
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(sorted(os.listdir(self.path("out"))), ["ann.pst", "bob (2).pst", "bob.pst"])
        self.assertIn("bob (2).pst  (the planned name was taken)", run.stderr)
        self.assertEqual(subjects(folder(pypff_tree(self.path("out", "ann.pst")), "Inbox")), ["for ann"])
        self.assertEqual(subjects(folder(pypff_tree(self.path("out", "bob (2).pst")))), ["for bob"])
        with open(self.path("out", "bob.pst")) as fh:
            self.assertEqual(fh.read(), "keep me")
        # Only the folders named.
        run = convert("--multiple", self.path("users"), self.path("out"), "ann")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(os.path.exists(self.path("out", "ann (2).pst")))
        self.assertFalse(os.path.exists(self.path("out", "bob (3).pst")))

    def test_a_file_that_cannot_be_read_is_reported_and_fails_the_run(self):
        write(self.path("src", "good.eml"), mail("good"))
        os.symlink(self.path("gone.eml"), self.path("src", "broken.eml"))
        target = self.path("out.pst")
        run = convert(self.path("src"), target)
        self.assertEqual(run.returncode, 1)
        self.assertIn("1 file(s) failed", run.stderr)
        self.assertIn("broken.eml", run.stderr)
        self.assertIn("1 file could not be converted: broken.eml.", run.stderr)
        self.assertEqual(subjects(folder(pypff_tree(target))), ["good"])  # and no empty message beside it

    def test_verbose_lists_every_repair_note_with_the_files_full_path(self):
        # Twelve damaged files: more notes than the plain summary shows, in two folders whose
        # files share their names, so that only the full path tells them apart.
        for sub in ("one", "two"):
            for i in range(6):
                path = self.path("src", sub, f"m{i}.eml")
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as fh:
                    fh.write(f"From: a@example.org\nSubject: s{i}\x00x\n\nbody\n".encode())
        write(self.path("src", "plain.eml"), mail("plain"))
        nul = "NUL bytes in header fields replaced by U+FFFD"
        plain = convert(self.path("src"), self.path("plain.pst"))
        self.assertEqual(plain.returncode, 0, plain.stderr)
        self.assertEqual(plain.stderr.count("  note: "), 10)
        self.assertIn("and 2 more notes", plain.stderr)

        report = self.path("report.tsv")
        run = convert("--verbose", "--report", report, self.path("src"), self.path("verbose.pst"))
        self.assertEqual(run.returncode, 0, run.stderr)
        summary = run.stderr[run.stderr.index("Summary:"):]
        for sub in ("one", "two"):
            for i in range(6):
                self.assertIn(f"  note: {self.path('src', sub, f'm{i}.eml')}: {nul}\n", summary)
        self.assertEqual(summary.count("  note: "), 12)
        self.assertNotIn("more notes", summary)
        self.assertNotIn("plain.eml", summary)
        # The report file is still written in full beside the verbose output.
        with open(report) as fh:
            lines = fh.read().splitlines()
        self.assertEqual(len(lines), 1 + 13)
        self.assertEqual(sum(nul in line for line in lines), 12)
        self.assertEqual(len(subjects(folder(pypff_tree(self.path("verbose.pst")), "one"))), 6)

    def test_real_world_corpus_arrives_whole(self):
        corpus = os.path.join(SOURCE, "..", "shared", "corpus")
        if not os.path.isdir(corpus):
            self.skipTest("the shared corpus is not beside the checkout")
        names = [n for _r, _d, files in os.walk(corpus) for n in files
                 if n.lower().endswith((".eml", ".emlx")) or n.lower() == "eml~1"]
        target = self.path("corpus.pst")
        run = convert(corpus, target)
        self.assertEqual(run.returncode, 0, run.stderr[-3000:])
        self.assertIn(f"{len(names)} message(s) converted", run.stderr)
        check = pstcheck(target)
        self.assertEqual(check.returncode, 0, check.stdout[-3000:])

        def count(node):
            return len(node["messages"]) + sum(count(f) for f in node["folders"])
        self.assertEqual(count(pypff_tree(target)), len(names))
        readpst = json.loads(subprocess.run(
            ["/usr/bin/python3", os.path.join(SOURCE, "tests", "readers", "pst_dump.py"), "readpst", target],
            capture_output=True, text=True, check=True).stdout)
        self.assertEqual(readpst["errors"], [])
        self.assertEqual(sum(readpst["folders"].values()), len(names))
        # pst-extractor walks the hierarchy and contents tables and trusts their counts.
        extractor = json.loads(subprocess.run(
            ["/usr/bin/python3", os.path.join(SOURCE, "tests", "readers", "pst_dump.py"), "extractor", target],
            capture_output=True, text=True, check=True).stdout)
        self.assertNotIn("error", extractor)
        self.assertEqual(count(extractor["root"]), len(names))

    def test_interrupt_stops_and_leaves_a_valid_file(self):
        for i in range(3000):
            write(self.path("src", f"m{i:04d}.eml"), mail(f"message {i}"))
        target = self.path("out.pst")
        proc = subprocess.Popen([os.path.join(BUILD, "cli", "quillsort-convert"), self.path("src"), target],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 60
        while not glob.glob(self.path(".quillsort-*.tmp")) and proc.poll() is None and time.time() < deadline:
            time.sleep(0.005)
        proc.send_signal(signal.SIGINT)
        _out, err = proc.communicate(timeout=120)
        if "stopped" not in err:
            self.skipTest("the run ended before the interrupt arrived")
        self.assertEqual(proc.returncode, 1, err)
        self.assertIn("Conversion stopped by the user.", err)
        self.assertEqual(pstcheck(target).returncode, 0)
        converted = len(folder(pypff_tree(target))["messages"])
        self.assertLess(converted, 3000)
        self.assertEqual(os.listdir(self.dir), ["src", "out.pst"] if os.listdir(self.dir)[0] == "src" else ["out.pst", "src"])


if __name__ == "__main__":
    BUILD, SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
