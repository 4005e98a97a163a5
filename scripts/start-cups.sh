#!/usr/bin/env bash
# Makes sure a CUPS scheduler runs with the PDF queue the printing tests print through, as root.
# Starts cupsd when none answers (there may be no service manager, as in a container), adds the
# CUPS-PDF queue, and makes CUPS-PDF write every job into one known folder. Safe to run again.
# Exits non-zero with a message when the scheduler cannot be brought up.
set -euo pipefail

queue=CellstationPDF
out=/var/spool/cups-pdf/cellstation
conf=/etc/cups/cups-pdf.conf

if [[ $(id -u) -ne 0 ]]; then
  echo "start-cups.sh: needs root to start cupsd and add the $queue queue" >&2
  exit 1
fi

# Every job lands in $out, whoever sent it: root's jobs would otherwise go to /root/PDF and
# unknown users' to the anonymous folder. A job number prefix keeps parallel jobs apart.
mkdir -p "$out"
chmod 1777 "$out"
set_conf() {
  local key=$1 value=$2
  if grep -qE "^[#[:space:]]*$key[[:space:]]" "$conf"; then
    sed -i -E "s|^[#[:space:]]*$key[[:space:]].*|$key $value|" "$conf"
  else
    echo "$key $value" >>"$conf"
  fi
}
changed=$(md5sum "$conf")
set_conf Out "$out"
set_conf AnonDirName "$out"
set_conf Label 2
[[ $(md5sum "$conf") == "$changed" ]] || echo "start-cups.sh: CUPS-PDF writes to $out"

# lpstat -r exits 0 either way; only its text tells.
running() { lpstat -r 2>/dev/null | grep -q 'scheduler is running'; }

if ! running; then
  mkdir -p /run/cups
  cupsd
  for _ in $(seq 1 100); do
    running && break
    sleep 0.1
  done
  if ! running; then
    echo "start-cups.sh: cupsd was started but does not answer" >&2
    exit 1
  fi
  echo "start-cups.sh: cupsd started"
fi

if ! lpstat -p "$queue" >/dev/null 2>&1; then
  ppd=
  for _ in $(seq 1 50); do
    ppd=$(lpinfo -m 2>/dev/null | awk '/CUPS-PDF_opt\.ppd/ {print $1; exit}' || true)
    [[ -n $ppd ]] && break
    sleep 0.2
  done
  if [[ -z $ppd ]]; then
    echo "start-cups.sh: the CUPS-PDF driver is not installed (printer-driver-cups-pdf)" >&2
    exit 1
  fi
  # lpadmin warns that drivers are deprecated; CUPS 2.4 still takes them.
  lpadmin -p "$queue" -E -v cups-pdf:/ -m "$ppd" 2>/dev/null
  echo "start-cups.sh: queue $queue added ($ppd)"
fi
cupsenable "$queue"
cupsaccept "$queue"
