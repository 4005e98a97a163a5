#!/usr/bin/env bash
# Installs what is missing, builds the station and starts it in the demo station folder demo/,
# on a simulated chain of detector units linked at demo/COM1.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

mkdir -p demo
# region: demo station folder
# endregion

station=(../build/release/src/cellstation)
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the station on a virtual X display (Xvfb)."
  station=(xvfb-run -a -s "-screen 0 1024x768x24" "${station[@]}")
fi

# region: simulator
# endregion

cd demo
"${station[@]}"
