#!/usr/bin/env bash
# Renders the real station window into docs/station.png, with the history view open into
# docs/history.png and with a unit in alarm into docs/alarm.png, the history chart on 90 days of
# long-term record into docs/trend.png and its cell comparison into docs/compare.png, offscreen,
# from a build folder.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
cmake --build "$build" --target station-screenshot history-screenshot station-alarm-screenshot trend-screenshot \
  compare-screenshot demo-history >/dev/null
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
"$root/scripts/make-station-db.sh" "$folder" 5 12
mkdir -p "$root/docs"
(cd "$folder" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/station-screenshot" "$root/docs/station.png")
(cd "$folder" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/station-alarm-screenshot" "$root/docs/alarm.png")
echo "wrote docs/station.png and docs/alarm.png"
# The history view, on a station folder with a day of samples as run.sh's demo has.
mkdir "$folder/history"
"$root/scripts/make-station-db.sh" "$folder/history" 1 5
"$build/tools/demo-history/demo-history" "$folder/history" 24 >/dev/null
(cd "$folder/history" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/history-screenshot" "$root/docs/history.png")
echo "wrote docs/history.png"
# The long-term record: 90 days of archive for two units (unit 2's cell 7 is the weak one).
mkdir "$folder/trend"
"$root/scripts/make-station-db.sh" "$folder/trend" 1 2
"$build/tools/demo-history/demo-history" "$folder/trend" 24 --archive-days 90 >/dev/null
(cd "$folder/trend" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/trend-screenshot" "$root/docs/trend.png")
(cd "$folder/trend" && QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/compare-screenshot" "$root/docs/compare.png")
echo "wrote docs/trend.png and docs/compare.png"
