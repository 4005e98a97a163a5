#!/usr/bin/env bash
# Renders the real station window into docs/station.png, offscreen, from a build folder.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
cmake --build "$build" --target station-screenshot >/dev/null
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
"$root/scripts/make-station-db.sh" "$folder" 5 12
mkdir -p "$root/docs"
(cd "$folder" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/station-screenshot" "$root/docs/station.png")
echo "wrote docs/station.png"
