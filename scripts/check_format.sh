#!/usr/bin/env bash
# Fails, naming the files, when a tracked C++ file differs from what clang-format makes of it with
# the repository's .clang-format. Skips (77) where clang-format or the git checkout is missing.
set -uo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null 2>&1 || { echo "clang-format not installed"; exit 77; }
mapfile -t files < <(git ls-files '*.cpp' '*.h' 2>/dev/null)
[ ${#files[@]} -gt 0 ] || { echo "not a git checkout: nothing to check"; exit 77; }
mapfile -t bad < <(clang-format --dry-run "${files[@]}" 2>&1 | sed -n 's/^\(.*\):[0-9]*:[0-9]*: warning: code should be clang-formatted.*/\1/p' | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
  printf 'not formatted: %s\n' "${bad[@]}"
  echo "${#bad[@]} of ${#files[@]} files differ from $(clang-format --version); format them with: clang-format -i FILE..."
  exit 1
fi
echo "${#files[@]} files formatted as .clang-format asks"
