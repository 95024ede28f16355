#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine when needed, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
ctest --test-dir build --output-on-failure -j "$jobs"
