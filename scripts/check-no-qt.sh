#!/usr/bin/env bash
# The subsystem folders (app, shell, imaging, hexedit, archive) include no
# Qt header: only the platform layer does. Each program named after the
# source folder (the image decoder vx_decode) loads no Qt library either.
# Usage: scripts/check-no-qt.sh SOURCE_DIR [PROGRAM...]
# Run by CTest as SubsystemsWithoutQt.
set -euo pipefail
src=${1:?usage: check-no-qt.sh SOURCE_DIR [PROGRAM...]}
shift
status=0
pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z0-9_]*|Qt[A-Za-z0-9]*/[^>"]*)[>"]'
for dir in app shell imaging hexedit archive; do
    if grep -rnE "$pattern" "$src/$dir"; then
        echo "check-no-qt: the lines above include Qt in $dir/, which only platform/ may" >&2
        status=1
    fi
done
for program in "$@"; do
    if ! libraries=$(ldd "$program"); then
        echo "check-no-qt: ldd cannot read $program" >&2
        status=1
    elif grep -i 'libqt' <<<"$libraries"; then
        echo "check-no-qt: $program loads the Qt libraries above" >&2
        status=1
    fi
done
exit "$status"
