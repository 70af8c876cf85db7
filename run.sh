#!/usr/bin/env bash
# Installs what is missing, makes a release build and starts the program.
# Usage: ./run.sh [FILE]   (needs a display; without one: xvfb-run ./run.sh)
# FILE is taken from the folder the script is called in, as any program's
# argument is; the build happens in the repository whatever that folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build/release" -DCMAKE_BUILD_TYPE=Release -DVISTREL_TESTS=OFF >/dev/null
cmake --build "$here/build/release" -j"$(nproc)" --target vistrel
exec "$here/build/release/app/vistrel" "$@"
