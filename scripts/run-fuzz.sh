#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for about the given number of seconds in total and
# exits non-zero on any finding (crash, sanitizer report, leak, timeout, out-of-memory).
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS
#
# Each target starts from its seed corpus in fuzz/corpus/<name without _fuzzer>/ and works on a
# copy in a temporary folder, so the committed seeds never change. Inputs that break a target are
# kept in BUILD_DIR/fuzz-findings/ for reproduction: run the target with the file as argument.
set -euo pipefail

if (($# != 2)) || ! [[ $2 =~ ^[0-9]+$ ]] || (($2 < 1)); then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build=$1
seconds=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)

mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -perm -u+x 2>/dev/null | sort)
if ((${#targets[@]} == 0)); then
  echo "no fuzz targets in $build/fuzz (configure and build the fuzz preset first)" >&2
  exit 2
fi

share=$((seconds / ${#targets[@]}))
((share >= 1)) || share=1
findings="$build/fuzz-findings"
mkdir -p "$findings"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  seeds="$source_dir/fuzz/corpus/${name%_fuzzer}"
  corpus="$work/$name"
  mkdir -p "$corpus"
  [[ -d $seeds ]] && cp "$seeds"/* "$corpus"/
  echo "fuzzing $name for ${share} s"
  # -error_exitcode: any finding exits with 77; libFuzzer's own errors exit with other codes,
  # which count as failures too.
  if ! "$target" -max_total_time="$share" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -error_exitcode=77 -print_final_stats=1 -artifact_prefix="$findings/$name-" \
      "$corpus" >"$work/$name.log" 2>&1; then
    echo "FINDING in $name; log follows, inputs in $findings" >&2
    tail -n 60 "$work/$name.log" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$work/$name.log" || true
  fi
done
exit $status
