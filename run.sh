#!/usr/bin/env bash
# Installs what is missing, builds the station and starts it in the demo station folder demo/,
# on a simulated chain of detector units linked at demo/COM1.
#   ./run.sh --broker HOST[:PORT]   the demo station also publishes to this MQTT broker
#   ./run.sh --broker local         ... to Debian's mosquitto, started here on 127.0.0.1:18830
set -euo pipefail
cd "$(dirname "$0")"
# The children this script starts (simulator, local broker) end with it, however it ends.
children=()
stop_children() {
  for p in "${children[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
}
trap stop_children EXIT
broker=""
if [[ "${1:-}" == "--broker" ]]; then
  broker="${2:?--broker needs HOST[:PORT] or local}"
fi
./scripts/install-deps.sh

cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"

mkdir -p demo
# A fresh station database on the first run: 5 detector units polled every second, with a day
# of stored samples of their 24 cells, so the history curves show something from the start, and
# 90 days of long-term archive in demo/archive (unit 2's cell 7 drifting, a discharge every 30 days).
if [[ ! -e demo/db1.mdb ]]; then
  ./scripts/make-station-db.sh demo 1 5
  rm -rf demo/archive
  build/release/tools/demo-history/demo-history demo 24 --archive-days 90
fi

# publish.ini switches publishing on. One that this script wrote is replaced or removed on every
# run; one the operator wrote is left alone.
marker="; written by run.sh"
if [[ -n "$broker" ]]; then
  if [[ -e demo/publish.ini ]] && ! head -n 1 demo/publish.ini | grep -qx -- "$marker"; then
    echo "demo/publish.ini is not ours; leaving it as it is." >&2
  else
    host="${broker%%:*}" port=1883
    [[ "$broker" == *:* ]] && port="${broker##*:}"
    if [[ "$broker" == local ]]; then
      host=127.0.0.1 port=18830
      mosquitto -p "$port" >demo/mosquitto.log 2>&1 &
      children+=($!)
    fi
    printf '%s\n[broker]\nhost = %s\nport = %s\n[topics]\nstation = demo\n' "$marker" "$host" "$port" >demo/publish.ini
    echo "Publishing to $host:$port. Watch it with: mosquitto_sub -h $host -p $port -t 'cellstation/demo/#' -v"
  fi
elif [[ -e demo/publish.ini ]] && head -n 1 demo/publish.ini | grep -qx -- "$marker"; then
  rm demo/publish.ini
fi

station=(../build/release/src/cellstation)
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): running the station on a virtual X display (Xvfb)."
  station=(xvfb-run -a -s "-screen 0 1024x768x24" "${station[@]}")
fi

# Five simulated detector units of 24 lead-acid cells answer on a pseudo-terminal linked at
# demo/COM1, the port the station opens. Unit 2's string discharges for five minutes from two
# minutes after the start, cell 7 falling first, so the station records a discharge test once
# polling has run through it. The simulator stops (and removes the link) when the station
# exits, however it exits.
cellsim=build/release/tools/cellsim/cellsim
"$cellsim" --link demo/COM1 --units 5 --cells 24 --discharge 2:120:5:7 &
cellsim_pid=$!
children+=("$cellsim_pid")
for _ in $(seq 50); do
  [[ -L demo/COM1 ]] && break
  kill -0 "$cellsim_pid" 2>/dev/null || break
  sleep 0.1
done
[[ -L demo/COM1 ]] || { echo "The detector-chain simulator did not start (no link demo/COM1)." >&2; exit 1; }
echo "Simulated detector units 1..5 answer on demo/COM1. Press 开始 in the station to start polling."
echo "Unit 2 goes through a five-minute discharge from two minutes after now: see 放电记录… (right-click) once it has ended."

cd demo
"${station[@]}"
