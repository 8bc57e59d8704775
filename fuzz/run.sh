#!/usr/bin/env bash
# Runs every fuzz target for a while, starting from its seed corpus.
#   fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]
# New inputs go to a scratch corpus (BUILD_DIR/corpus/<target>), so the
# checked-in seeds stay small.  fuzz/<target>.dict, where there is one, is
# the target's dictionary.  A crash, a leak or a failed check stops the
# run with a non-zero status and leaves the input as BUILD_DIR/crash-*.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS] [TARGET...]}" && pwd)"
seconds="${2:-20}"
shift $(($# >= 2 ? 2 : $#))
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(verify record groupscan history getline hashes)
fi
status=0
for t in "${targets[@]}"; do
  scratch="$build/corpus/$t"
  mkdir -p "$scratch"
  dict=()
  if [[ -f "$here/$t.dict" ]]; then dict=(-dict="$here/$t.dict"); fi
  echo "=== fuzz_$t: ${seconds}s ==="
  if ! (cd "$build" && ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
        "./fuzz_$t" "${dict[@]}" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 "$scratch" "$here/corpus/$t" 2>"$build/fuzz_$t.log"); then
    echo "fuzz_$t FAILED; the last lines of $build/fuzz_$t.log:"
    tail -40 "$build/fuzz_$t.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/fuzz_$t.log" || true
  fi
done
exit $status
