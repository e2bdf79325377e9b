#!/usr/bin/env bash
# Puts the project's C++ files in the house format (.clang-format).
#
#   scripts/format.sh            formats every tracked .h/.cpp file in place
#   scripts/format.sh --check    lists the files not in the house format and
#                                exits with 1 when there is one
#   scripts/format.sh FILE...    formats only these files
#
# Uses clang-format 14, the version the format was written for: another
# version may break lines differently.
set -euo pipefail
cd "$(dirname "$0")/.."

formatter=$(command -v clang-format-14 || true)
if [[ -z "$formatter" ]]; then
  echo "format.sh: clang-format-14 not found (scripts/setup.sh installs it)" >&2
  exit 2
fi

check=0
if [[ "${1:-}" == "--check" ]]; then
  check=1
  shift
fi
if [[ $# -gt 0 ]]; then
  files=("$@")
else
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.h' '*.cpp')
  else
    mapfile -t files < <(find . -path ./build -prune -o \
      \( -name '*.h' -o -name '*.cpp' \) -print | sed 's|^\./||' | sort)
  fi
fi

if [[ $check -eq 0 ]]; then
  "$formatter" -i --style=file "${files[@]}"
  exit 0
fi
unformatted=0
for file in "${files[@]}"; do
  if ! "$formatter" --style=file "$file" | cmp -s - "$file"; then
    echo "not in the house format: $file (scripts/format.sh $file)"
    unformatted=1
  fi
done
exit $unformatted
