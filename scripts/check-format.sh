#!/usr/bin/env bash
# Fails (exit 1) when a C++ file under git differs from what clang-format makes of it with the
# tree's .clang-format; names each file and place. Changes nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.cc' '*.h' '*.hpp')
else  # an exported tree without its history
  mapfile -t files < <(find . -path ./build -prune -o -type f \( -name '*.cpp' -o -name '*.cc' \
    -o -name '*.h' -o -name '*.hpp' \) -print | sort)
fi
[ ${#files[@]} -gt 0 ] || { echo "check-format: no C++ files found" >&2; exit 1; }
if clang-format --dry-run --Werror "${files[@]}"; then
  echo "check-format: ${#files[@]} files formatted"
else
  echo "check-format: some of the ${#files[@]} files need clang-format -i (listed above)" >&2
  exit 1
fi
