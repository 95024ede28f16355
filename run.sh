#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine when needed, builds, and runs the main job: converts the bundled
# sample mailbox into out/Mail.pst, then shows what the new file holds as an independent reader
# (libpff's python3-pypff) reads it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
mkdir -p out
build/cli/quillsort-convert --overwrite samples/Mail out/Mail.pst
echo
echo "== out/Mail.pst as python3-pypff reads it =="
/usr/bin/python3 tests/readers/pst_dump.py tree out/Mail.pst
