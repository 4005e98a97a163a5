#!/usr/bin/env bash
# Plants the faults listed in scripts/mutants.txt one at a time, rebuilds incrementally (the
# asan build, one object per source file), runs the tests of the subsystem the fault is in, puts
# the file back, and prints how many faults the tests caught ("killed") out of those planted,
# with the ones that got through ("survived").
#
#   scripts/mutants.sh [--check] [PATTERN]
#
# PATTERN (an extended regular expression) picks the list lines to plant, e.g. "archive|trend";
# --check only says which faults can be planted in the tree as it stands, without building.
# A fault whose original text is not found exactly once is "not applied" and not counted; one
# that does not compile is "no build" and not counted either. Each fault's build and test output
# is kept in build/mutants/. CPU-heavy: run it under nice, not from ./test.sh. The file is put
# back on every exit, Ctrl-C included.
set -uo pipefail
cd "$(dirname "$0")/.."

check=0
if [[ ${1:-} == --check ]]; then
  check=1
  shift
fi
pattern=${1:-.}
list=scripts/mutants.txt
build=build/asan
logs=build/mutants
jobs=${JOBS:-2}

# One list line as five NUL-separated fields, with \n, \t and \\ decoded in the last two.
fields() {
  python3 -c '
import sys
f = sys.argv[1].split("\t")
if len(f) != 5: sys.exit(1)
dec = lambda s: s.encode().decode("unicode_escape").encode("latin-1").decode("utf-8")
sys.stdout.write("".join(x + "\0" for x in f[:3] + [dec(f[3]), dec(f[4])]))' "$1"
}

# Replaces the one occurrence of $2 in file $1 by $3; exit 2 when it is not there exactly once.
plant() {
  python3 -c '
import sys
path, old, new = sys.argv[1:4]
text = open(path, encoding="utf-8").read()
if text.count(old) != 1: sys.exit(2)
open(path, "w", encoding="utf-8").write(text.replace(old, new, 1))' "$@"
}

saved=""
original=""
restore() {
  if [[ -n $saved ]]; then
    cp "$saved" "$original"
    rm -f "$saved"
    saved=""
  fi
}
trap 'restore' EXIT
trap 'restore; echo "mutants.sh: interrupted" >&2; exit 130' INT TERM

if (( ! check )); then
  if command -v ccache >/dev/null; then
    export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
    export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  fi
  cmake --preset asan -DCMAKE_UNITY_BUILD=OFF >/dev/null || exit 1
  mkdir -p "$logs"
  export QT_QPA_PLATFORM=offscreen
fi

total=0 killed=0 skipped=0
survivors=()
n=0
while IFS= read -r line || [[ -n $line ]]; do
  n=$((n + 1))
  [[ -z $line || $line == \#* ]] && continue
  grep -Eq -- "$pattern" <<<"$line" || continue
  if ! mapfile -d '' -t f < <(fields "$line") || (( ${#f[@]} != 5 )); then
    echo "line $n: not five tab-separated fields" >&2
    exit 1
  fi
  file=${f[0]} targets=${f[1]} regex=${f[2]} old=${f[3]} new=${f[4]}
  label="line $n: $file: $(head -n 1 <<<"$old" | sed 's/^ *//' | cut -c1-70)"

  if ! python3 -c 'import sys; t = open(sys.argv[1], encoding="utf-8").read(); sys.exit(t.count(sys.argv[2]) != 1)' \
      "$file" "$old" 2>/dev/null; then
    echo "NOT APPLIED  $label"
    skipped=$((skipped + 1))
    continue
  fi
  if (( check )); then
    echo "ok           $label"
    continue
  fi

  original=$file
  saved=$(mktemp)
  cp "$file" "$saved"
  plant "$file" "$old" "$new"
  log=$logs/line-$n.log
  IFS=, read -r -a targetList <<<"$targets"
  if ! cmake --build "$build" -j "$jobs" --target "${targetList[@]}" >"$log" 2>&1; then
    echo "NO BUILD     $label"
    skipped=$((skipped + 1))
    restore
    continue
  fi
  total=$((total + 1))
  if ctest --test-dir "$build" -R "$regex" -j "$jobs" --timeout 300 --stop-on-failure --no-tests=error \
      >>"$log" 2>&1; then
    echo "SURVIVED     $label  (tests: $regex)"
    survivors+=("$label")
  else
    echo "killed       $label"
    killed=$((killed + 1))
  fi
  restore
done <"$list"

(( check )) && { echo "$skipped not applicable"; exit 0; }
# Each file is back as it was, newer than its mutant's object: the next build compiles it again
# (from the compiler cache).
echo
if (( total > 0 )); then
  echo "killed $killed of $total ($((100 * killed / total)) %); $skipped not applied or not building"
else
  echo "no fault planted; $skipped not applied or not building"
fi
if (( ${#survivors[@]} > 0 )); then
  echo "survivors:"
  printf '  %s\n' "${survivors[@]}"
fi
