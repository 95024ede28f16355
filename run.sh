#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine when needed, builds, and runs the main job on the bundled
# sample mailbox.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
build/cli/quillsort-collect samples/Mail
