#!/usr/bin/python3
"""The converter at the edges, as an unlucky or hostile user meets it: unreadable folders, sources
written in odd ways, targets that cannot be used, interruptions. Every message file must end up in
the written .pst or be named as not converted, and the exit status and summary must be true.

    cli_edges_test.py BUILD_DIR SOURCE_DIR

Runs as root in CI; the tests that need a denied listing run the converter as "nobody".
"""
import csv
import ctypes
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import cli_test as base
from cli_test import folder, mail, pypff_tree, pstcheck, subjects, write

NOBODY = 65534
SYS_TGKILL = 234  # x86_64


def converter():
    return os.path.abspath(os.path.join(base.BUILD, "cli", "quillsort-convert"))


def convert_in(cwd, *args, as_nobody=False):
    def drop():
        os.setgroups([])
        os.setresgid(NOBODY, NOBODY, NOBODY)
        os.setresuid(NOBODY, NOBODY, NOBODY)
    preexec = drop if as_nobody and os.geteuid() == 0 else None
    return subprocess.run([converter(), *args], cwd=cwd, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                          preexec_fn=preexec)


def report_rows(path):
    with open(path, newline="") as fh:
        rows = list(csv.reader(fh, delimiter="\t", quoting=csv.QUOTE_NONE))
    assert rows[0] == ["file", "status", "folder", "cause"], rows[0]
    return {os.path.basename(r[0]): r[1:] for r in rows[1:]}


class EdgeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quill-edges-")
        os.chmod(self.dir, 0o777)  # "nobody" writes its .pst and report here

    def tearDown(self):
        for root, dirs, _files in os.walk(self.dir):
            for d in dirs:
                os.chmod(os.path.join(root, d), 0o755)
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def test_unreadable_folders_are_named_and_fail_the_run(self):
        for name in ["a", "b", "c"]:
            write(self.path("Mail", "Open", f"{name}.eml"), mail(name))
        write(self.path("Mail", "Locked", "secret.eml"), mail("secret"))
        write(self.path("Mail", "Passage", "hidden.eml"), mail("hidden"))
        os.chmod(self.path("Mail", "Locked"), 0)
        os.chmod(self.path("Mail", "Passage"), 0o311)  # can be entered, not listed
        result = convert_in(self.dir, "--report", "r.tsv", "Mail", "out.pst", as_nobody=True)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn("Successfully", result.stderr)
        self.assertIn(f"folder not read: {self.path('Mail', 'Locked')}: Permission denied", result.stderr)
        self.assertIn(f"folder not read: {self.path('Mail', 'Passage')}: Permission denied", result.stderr)
        self.assertIn("Summary: 3 message(s) converted into 1 data file(s).", result.stderr)
        rows = report_rows(self.path("r.tsv"))
        self.assertEqual(rows["Locked"], ["failed", "", "the folder could not be read: Permission denied"])
        self.assertEqual(rows["a.eml"], ["converted", "Open", ""])
        self.assertEqual(subjects(folder(pypff_tree(self.path("out.pst")), "Open")), ["a", "b", "c"])

        # An unreadable source root: nothing converted, nothing written, and it says so.
        os.chmod(self.path("Mail"), 0)
        result = convert_in(self.dir, "Mail", "root.pst", as_nobody=True)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(f"folder not read: {self.path('Mail')}: Permission denied", result.stderr)
        self.assertFalse(os.path.exists(self.path("root.pst")))

    def test_relative_and_dot_sources_keep_folder_names(self):
        write(self.path("Mail", "GMail", "g.eml"), mail("g"))
        write(self.path("Mail", "Mailing lists", "l.eml"), mail("l"))
        write(self.path("Mail", "v1.2", "v.eml"), mail("v"))
        write(self.path("Mail", "Sent", "s.eml"), mail("s"))
        write(self.path("Mail", "Inbox", "i.eml"), mail("i"))
        for cwd, source, target in [(self.dir, "Mail", "a.pst"), (self.path("Mail"), ".", "../c.pst"),
                                    (self.dir, "Mail/", "d.pst"), (self.dir, "./Mail/../Mail", "e.pst")]:
            with self.subTest(source=source):
                result = convert_in(cwd, source, target)
                self.assertEqual(result.returncode, 0, result.stderr)
                tree = pypff_tree(self.path(os.path.basename(target)))
                top = [f["name"] for f in folder(tree)["folders"]]
                for name in ["GMail", "Mailing lists", "v1.2", "Sent Items", "Inbox"]:
                    self.assertIn(name, top)
                self.assertNotIn("Sent", top)
                self.assertEqual(subjects(folder(tree, "Sent Items")), ["s"])
                self.assertEqual(subjects(folder(tree, "v1.2")), ["v"])

    def test_multiple_mode_maps_sent_and_names_renamed_files(self):
        write(self.path("root", "ann", "Sent", "s.eml"), mail("s"))
        write(self.path("root", "ann", "Inbox", "i.eml"), mail("i"))
        os.makedirs(self.path("out"))
        result = convert_in(self.dir, "--multiple", "root", "out")
        self.assertEqual(result.returncode, 0, result.stderr)
        tree = pypff_tree(self.path("out", "ann.pst"))
        self.assertEqual(subjects(folder(tree, "Sent Items")), ["s"])
        self.assertEqual(subjects(folder(tree, "Inbox")), ["i"])

    def test_targets_and_sources_that_cannot_be_used_are_refused_before_any_work(self):
        write(self.path("Mail", "a.eml"), mail("a"))
        cases = [
            (["Mail", ""], 2, "the target is empty"),
            (["Mail/a.eml", "x.pst"], 1, "is not a folder"),
            (["Nowhere", "x.pst"], 1, "does not exist"),
            (["Mail", "no/such/folder/x.pst"], 1, "of the target does not exist"),
            (["--multiple", "Mail", "Mail/a.eml"], 1, "is not a folder"),
        ]
        for args, status, text in cases:
            with self.subTest(args=args):
                result = convert_in(self.dir, *args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(text, result.stderr)
                self.assertNotIn("Successfully", result.stderr)
        self.assertEqual(sorted(os.listdir(self.dir)), ["Mail"])

    def test_an_existing_target_refused_is_no_success(self):
        write(self.path("Mail", "a.eml"), mail("a"))
        write(self.path("old.pst"), "an older data file")
        result = convert_in(self.dir, "Mail", "old.pst")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn("Successfully", result.stderr)
        self.assertNotIn("Completed", result.stderr)
        self.assertIn("already exists; nothing was written", result.stderr)
        with open(self.path("old.pst")) as fh:
            self.assertEqual(fh.read(), "an older data file")

    def test_the_report_and_summary_tell_every_files_fate(self):
        write(self.path("Mail", "good.eml"), mail("good"))
        write(self.path("Mail", "Work", "w.eml"), mail("w"))
        write(self.path("Mail", "notes.txt"), "not a message")
        write(self.path("Mail", "odd\tname.eml"), mail("odd"))
        os.mkfifo(self.path("Mail", "pipe.eml"))  # would block a reader for ever
        write(self.path("Mail", "nul.eml"), "From: Ev\0il <evil@example.org>\nSubject: nul\n\nbody\n")
        open(self.path("Mail", "empty.eml"), "w").close()
        result = convert_in(self.dir, "--report", "r.tsv", "Mail", "m.pst")
        rows = report_rows(self.path("r.tsv"))
        self.assertEqual(rows["good.eml"], ["converted", "", ""])
        self.assertEqual(rows["w.eml"], ["converted", "Work", ""])
        self.assertEqual(rows["notes.txt"], ["skipped", "", "not a message file (.eml or .emlx)"])
        self.assertEqual(rows["odd\\tname.eml"], ["converted", "", ""])  # a tab inside a name stays one field
        self.assertEqual(rows["empty.eml"], ["empty", "", "the file is empty (0 bytes)"])
        self.assertEqual(rows["nul.eml"][:2], ["converted", ""])
        self.assertTrue(rows["nul.eml"][2].startswith("note: ") and "NUL" in rows["nul.eml"][2], rows["nul.eml"])
        self.assertEqual(rows["pipe.eml"][:2], ["failed", ""])
        self.assertIn("not a regular file", rows["pipe.eml"][2])
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Summary: 4 message(s) converted into 1 data file(s).", result.stderr)
        self.assertIn("1 file(s) empty (0 bytes), not converted", result.stderr)
        self.assertIn("note: nul.eml: ", result.stderr)
        self.assertEqual(len(folder(pypff_tree(self.path("m.pst")))["messages"]), 3)

    def test_a_data_file_that_cannot_be_written_saves_nothing_and_says_so(self):
        for i in range(40):
            write(self.path("Mail", f"m{i:02d}.eml"), mail(f"message {i}") + "x" * 4000)
        def small_files():
            import resource
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (96 * 1024, 96 * 1024))
        result = subprocess.run([converter(), "--report", self.path("r.tsv"), self.path("Mail"), self.path("m.pst")],
                                capture_output=True, text=True, stdin=subprocess.DEVNULL, preexec_fn=small_files)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Summary: 0 message(s) converted into 0 data file(s).", result.stderr)
        self.assertIn("40 messages not saved: the data file could not be written", result.stderr)
        self.assertNotIn("Successfully", result.stderr)
        rows = report_rows(self.path("r.tsv"))
        self.assertEqual(len(rows), 40)
        self.assertTrue(all(r[0] == "not saved" and r[2].startswith("the data file could not be written: ")
                            for r in rows.values()), rows)
        self.assertEqual(sorted(os.listdir(self.dir)), ["Mail", "r.tsv"])  # no target, no temporary file

    def test_two_runs_on_one_target_at_once_the_second_refuses(self):
        for i in range(3000):
            write(self.path("src", f"m{i:04d}.eml"), mail(f"message {i}"))
        write(self.path("other", "o.eml"), mail("other"))
        first = subprocess.Popen([converter(), self.path("src"), self.path("t.pst")], stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 60
        while not glob.glob(self.path(".quillsort-*")) and first.poll() is None and time.time() < deadline:
            time.sleep(0.002)
        time.sleep(0.05)  # past the moment its temporary file is created and locked
        os.kill(first.pid, signal.SIGSTOP)  # held mid-run, so the second certainly meets it
        try:
            second = convert_in(self.dir, "other", "t.pst")
        finally:
            os.kill(first.pid, signal.SIGCONT)
        _out, err = first.communicate(timeout=120)
        self.assertEqual(first.returncode, 0, err)
        self.assertEqual(second.returncode, 1, second.stderr)
        self.assertIn("another conversion is writing", second.stderr)
        self.assertNotIn("Successfully", second.stderr)
        self.assertEqual(len(folder(pypff_tree(self.path("t.pst")))["messages"]), 3000)

    def test_a_tree_deeper_than_the_store_takes_is_folded_and_checks_clean(self):
        deep = [f"d{level}" for level in range(1, 69)]
        write(self.path("Mail", *deep, "deepest.eml"), mail("deepest"))
        write(self.path("Mail", "d1", "shallow.eml"), mail("shallow"))
        result = convert_in(self.dir, "--report", "r.tsv", "Mail", "deep.pst")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("lies deeper than 63 levels", result.stderr)
        check = subprocess.run([os.path.join(base.BUILD, "pst", "read", "pstcheck"), "--strict", self.path("deep.pst")],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        strict = subprocess.run([os.path.join(base.SOURCE, "..", "shared", "tools", "pst-check", "pst-check"),
                                 self.path("deep.pst")], capture_output=True, text=True)
        self.assertEqual(strict.returncode, 0, strict.stdout[-3000:])
        rows = report_rows(self.path("r.tsv"))
        self.assertEqual(rows["deepest.eml"][0], "converted")
        self.assertTrue(rows["deepest.eml"][1].endswith("d62\\\\d63 \u203a d64 \u203a d65 \u203a d66 \u203a d67 \u203a d68"),
                        rows["deepest.eml"][1])

    def test_a_second_interrupt_ends_at_once_and_leaves_the_target_alone(self):
        for i in range(2000):
            write(self.path("src", f"m{i:04d}.eml"), mail(f"message {i}"))
        write(self.path("t.pst"), "the old target")
        proc = subprocess.Popen([converter(), "--overwrite", self.path("src"), self.path("t.pst")],
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.time() + 60
        while len(os.listdir(self.dir)) < 3 and proc.poll() is None and time.time() < deadline:
            time.sleep(0.002)  # the temporary file beside the target: the run has begun
        time.sleep(0.05)  # and its writer is set up
        # Two interrupts that both arrive, however fast the first one alone would end the run: the
        # process is held while one is sent to its main thread and one to the whole process (the
        # kernel keeps those apart; two of one kind would merge into one).
        os.kill(proc.pid, signal.SIGSTOP)
        libc = ctypes.CDLL(None, use_errno=True)
        self.assertEqual(libc.syscall(SYS_TGKILL, proc.pid, proc.pid, signal.SIGINT), 0)
        os.kill(proc.pid, signal.SIGINT)
        os.kill(proc.pid, signal.SIGCONT)
        _out, err = proc.communicate(timeout=60)
        self.assertEqual(proc.returncode, 130, err)
        self.assertIn("stopped at once", err)
        with open(self.path("t.pst")) as fh:
            self.assertEqual(fh.read(), "the old target")
        self.assertEqual(sorted(os.listdir(self.dir)), ["src", "t.pst"])  # no temporary file left

    def write_parts(self, path, parts):
        """A message of `parts` small text parts, with a forwarded message before the 5,000th."""
        os.makedirs(os.path.dirname(path))
        with open(path, "wb") as fh:
            fh.write(b"From: a@example.org\nSubject: many parts\nMIME-Version: 1.0\n"
                     b"Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nbody\n")
            for i in range(parts):
                if i == min(5000, parts // 2):
                    fh.write(b"--b\nContent-Type: message/rfc822\n\nFrom: c@example.org\nSubject: forwarded\n\ninner\n")
                fh.write(b"--b\nContent-Type: text/plain; name=\"p%d.txt\"\n\npart %d\n" % (i, i))
            fh.write(b"--b--\n")

    def test_a_message_of_100000_parts_keeps_every_part_within_the_memory_bound(self):
        # Every part, the forwarded message among them, must reach the store, and the run must stay
        # within the converter's promise: the largest message file it takes + 100 MB. Before
        # attachments were built one at a time while written, this message took over 200 MB.
        parts = 100000
        src = self.path("src", "parts.eml")
        self.write_parts(src, parts)
        bound = os.stat(src).st_size + 100 * 1000 * 1000
        proc = subprocess.Popen([converter(), self.path("src"), self.path("p.pst")], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        with proc.stderr:
            err = proc.stderr.read().decode("utf-8", "replace")
        _pid, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(proc.returncode, 0, err)
        self.assertLessEqual(usage.ru_maxrss * 1024, bound, f"peak RSS {usage.ru_maxrss} KiB")
        # Our reader walks every attachment of the file; pypff needs about 30 s for this one
        # message's attachment table, so it reads a smaller one below.
        check = subprocess.run([os.path.join(base.BUILD, "pst", "read", "pstcheck"), "--strict", "--verbose",
                                self.path("p.pst")], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout[-2000:] + check.stderr)
        self.assertIn("2 messages (with embedded), 0 recipients, %d attachments" % (parts + 1), check.stdout)

    def test_attachments_built_while_written_read_back_byte_for_byte(self):
        # Past the 64th, attachments are built as the writer comes to them: pypff must find each
        # one, in order, with its bytes, and the forwarded message among them.
        parts = 3000
        self.write_parts(self.path("src", "parts.eml"), parts)
        result = convert_in(self.dir, "src", "p.pst")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(pstcheck(self.path("p.pst")).returncode, 0)
        import pypff
        store = pypff.file()
        store.open(self.path("p.pst"))
        try:
            root = store.root_folder
            top = next(root.get_sub_folder(i) for i in range(root.number_of_sub_folders)
                       if root.get_sub_folder(i).name == "Top of Personal Folders")
            self.assertEqual(top.number_of_sub_messages, 1)
            message = top.get_sub_message(0)
            self.assertEqual(message.number_of_attachments, parts + 1)
            forwarded = parts // 2
            for i in range(parts + 1):
                a = message.get_attachment(i)
                if i == forwarded:
                    record = a.get_record_set(0)
                    method = next(e for e in record.entries if e.entry_type == 0x3705)  # PR_ATTACH_METHOD
                    self.assertEqual(int.from_bytes(method.data[:4], "little"), 5)  # an embedded message
                    continue
                n = i if i < forwarded else i - 1
                self.assertEqual(a.read_buffer(a.get_size()), b"part %d" % n, f"attachment {i}")
        finally:
            store.close()

if __name__ == "__main__":
    base.BUILD, base.SOURCE = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
