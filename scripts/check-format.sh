#!/usr/bin/env bash
# Checks that every C++ file of the project is formatted with its .clang-format;
# with --fix, formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests tools bench \( -name '*.cpp' -o -name '*.h' \) -type f | sort)
if [ "${1:-}" = --fix ]; then
    clang-format -i "${files[@]}"
else
    clang-format --dry-run --Werror "${files[@]}"
fi
