#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while over its seed corpus.
#
#   tests/fuzz/smoke.sh BUILD_DIR [SECONDS]      (default 20 seconds each)
#
# BUILD_DIR is a build configured with clang and -DNTPSYNCD_BUILD_FUZZ=ON
# whose target fuzz_targets has been built; this script builds nothing. The
# targets run one after another on one job each. The seed corpora in the
# repository are only read: new inputs go to a scratch directory, which is
# removed at the end. Exits non-zero as soon as a target reports a finding
# (the input that caused it is kept and named).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: smoke.sh BUILD_DIR [SECONDS]}
seconds=${2:-20}
targets=(settings_file server_name reply)

scratch=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-smoke.XXXXXX")
keep_scratch=0
cleanup() { ((keep_scratch)) || rm -rf "$scratch"; }
trap cleanup EXIT

for target in "${targets[@]}"; do
  binary=$build/tests/fuzz/${target}_fuzzer
  if [[ ! -x $binary ]]; then
    echo "smoke.sh: $binary not built (cmake --build $build --target fuzz_targets)" >&2
    exit 2
  fi
done

for target in "${targets[@]}"; do
  binary=$build/tests/fuzz/${target}_fuzzer
  mkdir -p "$scratch/$target"
  echo "== $target: ${seconds}s"
  log=$scratch/$target.log
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$scratch/$target-" "$scratch/$target" "$here/corpus/$target" >"$log" 2>&1; then
    keep_scratch=1
    tail -n 60 "$log"
    echo "smoke.sh: $target reported a finding; input and log kept in $scratch" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+.*DONE)' "$log" || true
done
echo "fuzz smoke: ${#targets[@]} targets, ${seconds}s each, no finding"
