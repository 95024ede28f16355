#!/usr/bin/python3
"""Writes stores of the shapes that stress the format (empty, deep, many, a large attachment,
nested messages) and reads each back with pstcheck and the independent readers.

    store_shapes_test.py STORE_SHAPES PSTCHECK SOURCE_DIR
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = PSTCHECK = SOURCE = None


def dump(reader, pst, *extra):
    if reader == "extractor":
        cmd = ["node", os.path.join(SOURCE, "tests", "readers", "extractor_dump.js"), pst, *extra]
    else:
        cmd = ["/usr/bin/python3", os.path.join(SOURCE, "tests", "readers", "pst_dump.py"), reader, pst]
    run = subprocess.run(cmd, capture_output=True, text=True, cwd=os.path.join(SOURCE, "tests", "readers"))
    if run.returncode != 0:
        raise AssertionError(f"{reader} failed on {pst}: {run.stderr[-2000:]}")
    return json.loads(run.stdout)


def walk(folder, path=()):
    """(path, folder) for the folder and every folder below it."""
    yield path, folder
    for child in folder["folders"]:
        yield from walk(child, path + (child["name"],))


class ShapesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="quill-shapes-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def write(self, shape):
        pst = os.path.join(self.dir, shape + ".pst")
        subprocess.run([TOOL, shape, pst], check=True)
        check = subprocess.run([PSTCHECK, "--strict", pst], capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout[-3000:])
        return pst

    def top(self, tree):
        return next(f for f in tree["folders"] if f["name"] == "Top of Personal Folders")

    def test_empty_store(self):
        pst = self.write("empty")
        defaults = ["Calendar", "Contacts", "Deleted Items", "Drafts", "Inbox", "Journal", "Junk E-mail", "Notes",
                    "Outbox", "Sent Items", "Tasks"]
        tree = dump("pypff", pst)
        self.assertEqual(sorted(f["name"] for f in self.top(tree)["folders"]), defaults)
        self.assertEqual(dump("readpst", pst)["errors"], [])
        extractor = dump("extractor", pst)
        self.assertEqual(extractor["displayName"], "Shapes")
        self.assertEqual(sorted(f["name"] for f in self.top(extractor["root"])["folders"]), defaults)

    def test_deep_tree_of_folders_named_in_many_scripts(self):
        pst = self.write("deep")
        top = self.top(dump("pypff", pst))
        paths = [p for p, _f in walk(top)]
        self.assertEqual(len(paths) - 1, 2 + 34 * 30)  # Deleted Items, Inbox and the chains
        bottoms = [(p, f) for p, f in walk(top) if len(p) == 30]
        self.assertEqual(len(bottoms), 34)
        for path, folder in bottoms:
            chain = path[0].split(" ")[-1].split(".")[0]
            self.assertEqual(path[-1].rsplit(" ", 1)[-1], f"{chain}.29")
            self.assertEqual([m["subject"].endswith(f"bottom of chain {chain}") for m in folder["messages"]], [True])
        self.assertIn("受信トレイ 1.0", [p[0] for p in paths if p])
        readpst = dump("readpst", pst)
        self.assertEqual(readpst["errors"], [])
        self.assertEqual(sum(readpst["folders"].values()), 34)
        extractor = dump("extractor", pst)
        ex_top = next(f for f in extractor["root"]["folders"] if f["name"] == "Top of Personal Folders")
        self.assertEqual(sum(len(f["messages"]) for _p, f in walk(ex_top)), 34)
        self.assertEqual(len(list(walk(ex_top))), len(paths))

    def test_a_hundred_thousand_messages_in_one_folder(self):
        pst = self.write("many")
        import pypff
        f = pypff.file()
        f.open(pst)
        inbox = next(f.get_root_folder().get_sub_folder(i) for i in range(f.get_root_folder().number_of_sub_folders)
                     if f.get_root_folder().get_sub_folder(i).name == "Top of Personal Folders")
        inbox = next(inbox.get_sub_folder(i) for i in range(inbox.number_of_sub_folders)
                     if inbox.get_sub_folder(i).name == "Inbox")
        self.assertEqual(inbox.number_of_sub_messages, 100000)
        self.assertEqual(inbox.get_sub_message(0).subject, "message 0")
        self.assertEqual(inbox.get_sub_message(99999).subject, "message 99999")
        f.close()
        extractor = dump("extractor", pst, "counts")
        ex_top = next(x for x in extractor["root"]["folders"] if x["name"] == "Top of Personal Folders")
        self.assertEqual(next(x for x in ex_top["folders"] if x["name"] == "Inbox")["contentCount"], 100000)
        readpst = dump("readpst", pst)
        self.assertEqual(readpst["errors"], [])
        self.assertEqual(sum(readpst["folders"].values()), 100000)

    def test_twenty_mebibyte_attachment_reads_back_byte_for_byte(self):
        pst = self.write("attachment")
        expected = bytes(((i * 2654435761) % (1 << 32)) >> 13 & 0xFF for i in range(20 << 20))
        inbox = next(f for f in self.top(dump("pypff", pst))["folders"] if f["name"] == "Inbox")
        [message] = inbox["messages"]
        self.assertEqual(message["attachments"], [{"size": 20 << 20, "sha1": hashlib.sha1(expected).hexdigest()}])
        self.assertEqual(dump("readpst", pst)["errors"], [])

    def test_data_that_looks_like_map_pages_is_not_taken_for_them(self):
        pst = self.write("lookalike")  # pstcheck --strict passes in write()
        inbox = next(f for f in self.top(dump("pypff", pst))["folders"] if f["name"] == "Inbox")
        [message] = inbox["messages"]
        self.assertEqual([a["size"] for a in message["attachments"]], [40 << 20])

    def test_messages_nested_three_levels_deep(self):
        pst = self.write("embedded")
        out = os.path.join(self.dir, "embedded-export")
        subprocess.run(["pffexport", "-q", "-m", "all", "-t", out, pst], check=True, capture_output=True)
        levels = []
        for root, _dirs, files in os.walk(out + ".export"):
            if "OutlookHeaders.txt" in files:
                with open(os.path.join(root, "OutlookHeaders.txt"), errors="replace") as fh:
                    subject = next((l.split(":", 1)[1].strip() for l in fh if l.startswith("Subject:")), None)
                levels.append((root.count("Attachment0"), subject))
        self.assertEqual(sorted(levels), [(0, "level 0"), (1, "level 1"), (2, "level 2"), (3, "level 3")])
        readpst = dump("readpst", pst)
        self.assertEqual(readpst["errors"], [])


if __name__ == "__main__":
    TOOL, PSTCHECK, SOURCE = (os.path.abspath(a) for a in sys.argv[1:4])
    unittest.main(argv=sys.argv[:1], verbosity=2)
