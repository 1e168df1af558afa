#!/usr/bin/env bash
# Every tracked C++ file is formatted as .clang-format says: lists the files that differ and fails.
#
#     scripts/check_format.sh          check (what CI runs)
#     scripts/check_format.sh --fix    reformat those files in place
#
# CLANG_FORMAT chooses the program (default clang-format, installed by scripts/setup.sh); the
# result depends on its version, so CI and developers use Debian 12's.
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_FORMAT=${CLANG_FORMAT:-clang-format}
if ! command -v "$CLANG_FORMAT" >/dev/null; then
    echo "check_format: $CLANG_FORMAT is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi

mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc')
if [ "${1:-}" = "--fix" ]; then
    "$CLANG_FORMAT" -i --style=file "${files[@]}"
    exit 0
fi

differ=()
for f in "${files[@]}"; do
    "$CLANG_FORMAT" --dry-run --Werror --style=file "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -ne 0 ]; then
    echo "check_format: ${#differ[@]} of ${#files[@]} files differ from .clang-format" \
        "(scripts/check_format.sh --fix):" >&2
    printf '  %s\n' "${differ[@]}" >&2
    exit 1
fi
echo "check_format: ${#files[@]} files formatted"
