#!/usr/bin/env bash
# Writes a fresh station database FOLDER/db1.mdb holding the settings table `setting`
# (secend: polling interval in seconds, measureTotal: number of detector units) with one row.
# The station never creates this file itself; the sample tables are added by the station.
#
# usage: make-station-db.sh FOLDER INTERVAL UNITCOUNT
#   FOLDER     existing folder that receives db1.mdb (an existing db1.mdb is never overwritten)
#   INTERVAL   polling interval in seconds, a plain decimal number with a period (5, 2.5)
#   UNITCOUNT  number of detector units, 1..99
set -euo pipefail

usage() { echo "usage: $0 FOLDER INTERVAL UNITCOUNT" >&2; exit 2; }
if [[ $# -eq 1 && ( $1 == --help || $1 == -h ) ]]; then
  cat <<EOF
Usage: ${0##*/} FOLDER INTERVAL UNITCOUNT
Writes FOLDER/db1.mdb, a fresh station database: the polling interval in seconds (a plain
decimal number with a period, e.g. 5 or 2.5) and the number of detector units (1..99).
An existing db1.mdb is never overwritten. Exit status 0 when made, 1 when the folder is
missing or already holds a db1.mdb, 2 for wrong arguments.
EOF
  exit 0
fi
[[ $# -eq 3 ]] || usage
folder=$1 interval=$2 units=$3

# Both numbers go into SQL text, so only plain decimal digits are let through.
[[ $interval =~ ^[0-9]+(\.[0-9]+)?$ ]] || { echo "$0: interval '$interval' is not a plain decimal number" >&2; exit 2; }
[[ $units =~ ^[0-9]+$ ]] && (( 10#$units >= 1 && 10#$units <= 99 )) || { echo "$0: unit count '$units' is not within 1..99" >&2; exit 2; }
units=$((10#$units))
[[ -d $folder ]] || { echo "$0: folder '$folder' does not exist" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "$0: the sqlite3 command-line tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

target=$folder/db1.mdb
[[ -e $target ]] && { echo "$0: '$target' already exists; it is left as it is" >&2; exit 1; }

# Built beside the target and moved into place, so a failure never leaves half a file named db1.mdb.
tmp=$(mktemp "$folder/.db1.mdb.XXXXXX")
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"
sqlite3 -bail "$tmp" >/dev/null <<SQL
PRAGMA journal_mode=DELETE;
CREATE TABLE setting (secend double, measureTotal integer);
INSERT INTO setting VALUES ($interval, $units);
SQL
# No-clobber: a db1.mdb that appeared meanwhile wins. A hard link is atomic; where the file
# system has none, mv -n is the next best.
if ! ln "$tmp" "$target" 2>/dev/null; then
  if [[ -e $target ]] || ! mv -n "$tmp" "$target" || [[ -e $tmp ]]; then
    echo "$0: '$target' already exists; it is left as it is" >&2; exit 1
  fi
fi
rm -f "$tmp"
trap - EXIT
