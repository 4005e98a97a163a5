#!/usr/bin/env bash
# Builds the Debian package (scripts/make-deb.sh) and checks it: the files it installs, that its
# dependencies are exactly the packages the programs need, and that the programs unpacked into
# a scratch root run there, the station included (offscreen, stopped with SIGTERM).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-deb: $*" >&2; exit 1; }

deb=$(scripts/make-deb.sh)
version=$(dpkg-deb -f "$deb" Version)

# Files: exactly these (directories aside).
expected=(
  /usr/bin/cellsim /usr/bin/cellstation /usr/bin/cellstation-make-db
  /usr/lib/systemd/user/cellstation.service
  /usr/share/applications/cellstation.desktop
  /usr/share/cellstation/autostart/cellstation.desktop
  /usr/share/cellstation/prometheus/cellstation-rules.yml /usr/share/cellstation/prometheus/cellstation-rules.test.yml
  /usr/share/doc/cellstation/README.md /usr/share/doc/cellstation/modbus-registers.csv
  /usr/share/doc/cellstation/changelog.gz /usr/share/doc/cellstation/copyright
  /usr/share/man/man1/cellstation.1.gz /usr/share/man/man1/cellsim.1.gz /usr/share/man/man1/cellstation-make-db.1.gz
)
# Every picture the README shows, installed beside it.
while read -r png; do expected+=("/usr/share/doc/cellstation/$png"); done < <(grep -o '(docs/[a-z-]*\.png)' README.md | tr -d '()' | sort -u)
for size in 16 32 48 64 128 256; do expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/cellstation.png"); done
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
[[ $files == "$want" ]] || fail "the package's files differ from the expected list:
$(diff <(echo "$want") <(echo "$files") || true)"

# Dependencies: the packages of the libraries the programs link, plus those nothing links.
unlinked=(libqt6sql6-sqlite fonts-noto-cjk fonts-liberation2 libcups2 sqlite3)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
linked=()
# Read whole, not piped into a reader that stops early (pipefail would take that for a failure).
cache=$(ldconfig -p)
for bin in cellstation cellsim; do
  while read -r lib; do
    path=$(awk -v l="$lib" '$1 == l && !found {print $NF; found = 1}' <<<"$cache")
    [[ -n $path ]] || fail "$bin needs $lib, which this system does not have"
    pkg=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | sed -n '1s/:.*//p') || true
    [[ -n $pkg ]] || pkg=$(dpkg -S "$path" | sed -n '1s/:.*//p')
    linked+=("$pkg")
  done < <(readelf -d "$root/usr/bin/$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
done
# libm comes with libc6.
want=$(printf '%s\n' "${linked[@]}" "${unlinked[@]}" | sort -u)
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/[[:space:]]//g' | grep -v '^$' | sort -u)
[[ $depends == "$want" ]] || fail "Depends differs from what the programs need:
$(diff <(echo "$want") <(echo "$depends") || true)"
# An apt that sees this system's packages can satisfy every one of them.
apt-get install -s "./$deb" >/dev/null || fail "apt cannot resolve the package's dependencies"

# Desktop entries are valid; the unit names the program and restarts it after a failure.
desktop-file-validate "$root/usr/share/applications/cellstation.desktop" \
  "$root/usr/share/cellstation/autostart/cellstation.desktop" || fail "invalid desktop entry"
grep -qx 'ExecStart=cellstation' "$root/usr/lib/systemd/user/cellstation.service" || fail "unit: no ExecStart"
grep -qx 'Restart=on-failure' "$root/usr/lib/systemd/user/cellstation.service" || fail "unit: no restart on failure"
if command -v systemd-analyze >/dev/null; then
  # Checked as it would run from the scratch root; the user manager wants a runtime folder.
  mkdir -m 700 "$root/run" "$root/unit"
  sed "s|^ExecStart=cellstation|ExecStart=$root/usr/bin/cellstation|" "$root/usr/lib/systemd/user/cellstation.service" \
    >"$root/unit/cellstation.service"
  XDG_RUNTIME_DIR="$root/run" systemd-analyze verify --user --man=no "$root/unit/cellstation.service" \
    || fail "the systemd user unit does not verify"
fi

# The unpacked programs run from the scratch root and link nothing outside the system.
if ldd "$root/usr/bin/cellstation" "$root/usr/bin/cellsim" | grep -q 'not found'; then fail "a library is missing"; fi
[[ $("$root/usr/bin/cellstation" --version) == "cellstation $version" ]] || fail "cellstation --version"
for program in cellstation cellsim cellstation-make-db; do
  "$root/usr/bin/$program" --help >/dev/null || fail "$program --help"
  # Every program in /usr/bin has its manual page, and it renders without a warning.
  page="$root/usr/share/man/man1/$program.1.gz"
  [[ -f $page ]] || fail "no manual page for $program"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) || fail "man $program"
  [[ -z $warnings ]] || fail "the manual page of $program: $warnings"
done
# Debian's own checks of the package; errors fail it.
lintian --fail-on error "$deb" || fail "lintian found errors"
rc=0; "$root/usr/bin/cellstation" --station "$root/nowhere" 2>/dev/null || rc=$?
[[ $rc -eq 1 ]] || fail "cellstation with a missing station folder exited with $rc, not 1"

# A station folder made with the installed maker; the installed station opens it and closes
# it whole on SIGTERM.
station="$root/station"
mkdir "$station"
"$root/usr/bin/cellstation-make-db" "$station" 5 3 || fail "cellstation-make-db"
QT_QPA_PLATFORM=offscreen "$root/usr/bin/cellstation" --station "$station" 2>"$root/station.log" &
pid=$!
# The window is up once the station catches SIGTERM (bit 15 of SigCgt).
catches_term() {
  local mask
  mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || return 1
  [[ -n $mask ]] && (( (0x$mask >> 14) & 1 ))
}
for _ in $(seq 300); do
  catches_term && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
catches_term || { kill "$pid" 2>/dev/null || true; cat "$root/station.log" >&2; fail "the installed station did not come up"; }
sleep 1  # its first show connects to the database
kill -TERM "$pid"
rc=0; wait "$pid" || rc=$?
[[ $rc -eq 0 ]] || { cat "$root/station.log" >&2; fail "the installed station exited with $rc on SIGTERM"; }
for j in -journal -wal -shm; do
  [[ ! -e $station/db1.mdb$j ]] || fail "the station left db1.mdb$j behind"
done
[[ $(sqlite3 "$station/db1.mdb" 'pragma integrity_check; select measureTotal from setting') == $'ok\n3' ]] \
  || fail "the station database is not whole"

echo "check-deb: $deb is fine"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
