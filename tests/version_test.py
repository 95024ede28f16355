#!/usr/bin/python3
"""The one version number of the project() line reaches every place that shows a version: the
programs' --version, the Debian changelog, the AppStream release list and the wizard's title.

    version_test.py VERSION SOURCE_DIR PROGRAM...

PROGRAM is the path of a built program; each must answer --version with "<its name> VERSION".
"""
import os
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

VERSION = SOURCE = None
PROGRAMS = []


class VersionTest(unittest.TestCase):
    def test_programs_print_name_and_version(self):
        self.assertTrue(PROGRAMS)
        for program in PROGRAMS:
            for args in (["--version"], ["--version", "unread-argument"], ["--stats", "--version"]):
                with self.subTest(program=program, args=args):
                    # No display: the wizard must answer before it needs one.
                    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
                    run = subprocess.run([program, *args], capture_output=True, text=True, timeout=30, env=env,
                                         stdin=subprocess.DEVNULL)
                    self.assertEqual(run.returncode, 0, run.stderr)
                    self.assertEqual(run.stdout, f"{os.path.basename(program)} {VERSION}\n")

    def test_version_after_double_dash_is_an_argument(self):
        convert = next(p for p in PROGRAMS if os.path.basename(p) == "quillsort-convert")
        run = subprocess.run([convert, "--", "--version"], capture_output=True, text=True, timeout=30,
                             stdin=subprocess.DEVNULL)
        self.assertNotIn(VERSION, run.stdout)
        self.assertNotEqual(run.returncode, 0)

    def test_debian_changelog_names_the_version(self):
        with open(os.path.join(SOURCE, "debian", "changelog"), encoding="utf-8") as f:
            first = f.readline()
        m = re.match(r"^quillsort \(([^)]+)\) ", first)
        self.assertIsNotNone(m, first)
        # A Debian revision (-1) or a native version: the upstream part must be the project's.
        self.assertEqual(m.group(1).split("-")[0], VERSION)

    def test_metainfo_newest_release_is_the_version(self):
        tree = ET.parse(os.path.join(SOURCE, "ui", "org.marrowfeld.quillsort.metainfo.xml"))
        releases = tree.getroot().findall("./releases/release")
        self.assertTrue(releases)
        self.assertEqual(releases[0].get("version"), VERSION)

    def test_wizard_title_shows_major_and_minor(self):
        with open(os.path.join(SOURCE, "ui", "start_page.cpp"), encoding="utf-8") as f:
            titles = re.findall(r'setWindowTitle\(QStringLiteral\("Marrowfeld Quillsort v([0-9.]+)"\)\)', f.read())
        self.assertEqual(len(titles), 1)
        self.assertEqual(titles[0], ".".join(VERSION.split(".")[:2]))


if __name__ == "__main__":
    VERSION, SOURCE, *PROGRAMS = sys.argv[1:]
    unittest.main(argv=sys.argv[:1], verbosity=2)
