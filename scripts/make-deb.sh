#!/usr/bin/env bash
# Builds the Debian package of the station from a release build and prints its path:
# build/release/package/cellstation_VERSION_ARCH.deb. Install it with
#   apt install ./build/release/package/cellstation_*.deb
# which also installs the Debian packages it depends on.
set -euo pipefail
cd "$(dirname "$0")/.."

# The package needs only the station and the simulator: install() must not build everything
# first (the screenshot tool, say).
cmake --preset release -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build build/release -j "$(nproc)" --target cellstation cellsim >&2

out=build/release/package
rm -rf "$out"
cpack --config build/release/CPackConfig.cmake -G DEB -B "$PWD/$out" >&2
debs=("$out"/cellstation_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || { echo "$0: cpack made no single package in $out" >&2; exit 1; }
echo "${debs[0]}"
