#!/usr/bin/env bash
# Records a discharge of a simulated unit as the station does (offscreen), writes its report to
# PDF through the report component's own PDF output and renders page 1 into docs/discharge.png,
# from a build folder. Takes about two minutes: the simulated discharge runs in real time.
# Usage: scripts/discharge-sample.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
cmake --build "$build" --target discharge-sample cellsim >/dev/null
tmp=$(mktemp -d)
sim=""
trap '[[ -n $sim ]] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$tmp"' EXIT
# The station folder's name is the report's station.
station=$tmp/demo
mkdir "$station"
"$root/scripts/make-station-db.sh" "$station" 0.5 1
# 放电设置 as an operator would set them for a short, high-rate test: the end-of-discharge voltage
# 1.75 V a cell (the simulator's sound cells end near 1.80 V, its weak ones well below).
sqlite3 "$station/db1.mdb" "CREATE TABLE dischargeSetting (thresholdMv integer, marginMv integer, endMv integer, maxMinutes integer);
  INSERT INTO dischargeSetting VALUES (2130, 20, 1750, 720);"
# One unit of 24 lead-acid cells, discharged for 90 s from 5 s after the start; cells 7 and 15 weak.
"$build/tools/cellsim/cellsim" --link "$station/COM1" --units 1 --cells 24 --discharge 1:5:1.5:7,15 &
sim=$!
for _ in $(seq 50); do [[ -L $station/COM1 ]] && break; sleep 0.1; done
[[ -L $station/COM1 ]] || { echo "$0: the simulator made no link $station/COM1" >&2; exit 1; }
(cd "$station" && QT_QPA_PLATFORM=offscreen "$build/tools/report-sample/discharge-sample" "$tmp/discharge.pdf" 5)
mkdir -p "$root/docs"
# 100 dpi, page 1 down to the end of the 12-row table.
pdftoppm -r 100 -png -singlefile -f 1 -l 1 -x 0 -y 0 -W 850 -H 450 "$tmp/discharge.pdf" "$root/docs/discharge"
echo "wrote docs/discharge.png"
