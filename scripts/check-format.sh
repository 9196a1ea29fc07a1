#!/usr/bin/env bash
# Checks that every C++ source and header of the tree is formatted as
# .clang-format says (clang-format 14). Lists the files that differ and exits
# 1; `clang-format -i FILE` formats one.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
command -v clang-format >/dev/null || { echo "check-format: clang-format is missing (scripts/setup.sh installs it)" >&2; exit 2; }
differ=()
while IFS= read -r -d '' file; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || differ+=("$file")
done < <(git ls-files -z -- '*.cpp' '*.h')
if [ "${#differ[@]}" -gt 0 ]; then
  echo "check-format: ${#differ[@]} files are not formatted as .clang-format says:"
  printf '  %s\n' "${differ[@]}"
  exit 1
fi
echo "check-format: every file is formatted"
