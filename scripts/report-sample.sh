#!/usr/bin/env bash
# Writes the printed report of a sample unit to PDF through the print button's path and renders
# the page into docs/report.png (the top part, where the table is), from a build folder.
# Usage: scripts/report-sample.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/default}" && pwd)
cmake --build "$build" --target report-sample >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && QT_QPA_PLATFORM=offscreen "$build/tools/report-sample/report-sample" "$tmp/report.pdf")
mkdir -p "$root/docs"
# 100 dpi, the upper half of the page: title and table end at 4.75 in.
pdftoppm -r 100 -png -singlefile -x 0 -y 0 -W 850 -H 520 "$tmp/report.pdf" "$root/docs/report"
echo "wrote docs/report.png"
