#!/usr/bin/env bash
# Runs the long forms of the robustness campaigns of a build, one campaign
# at a time, each in a private IPC namespace of its own (as root, or inside
# "unshare --user --map-root-user").
#
#   tests/robustness/long_run.sh BUILD_DIR [SCALE] [SEED]
#
# SCALE multiplies every campaign's size (default 10: tens of thousands of
# requests, thousands of forced syncs); SEED repeats a randomised campaign
# exactly (default: the campaigns' fixed seed). Prints each campaign's
# figures and duration; exits non-zero when any campaign fails.
set -uo pipefail
build=${1:?usage: long_run.sh BUILD_DIR [SCALE] [SEED]}
export NTPSYNCD_ROBUSTNESS_SCALE=${2:-10}
[[ -n ${3:-} ]] && export NTPSYNCD_ROBUSTNESS_SEED=$3
dir=$build/tests/robustness

# A cross build for the device runs its programs under the build's emulator.
runner=()
cache=$build/CMakeCache.txt
emulator=$(sed -n 's/^ARM_EMULATOR:[A-Z]*=//p' "$cache" 2>/dev/null)
if [[ -n $emulator ]] && grep -q '^CMAKE_TOOLCHAIN_FILE:' "$cache"; then
  runner=("$emulator" -L "$(sed -n 's/^ARM_SYSROOT:[A-Z]*=//p' "$cache")")
fi

campaigns=(
  "robustness_processes_test ConcurrentProcesses.*"
  "robustness_threads_test ConcurrentThreads.*"
  "robustness_threads_test SignalStorm.*"
  "robustness_fault_campaign_test Segments/FaultCampaign.*/FullSegment"
  "robustness_fault_campaign_test Segments/FaultCampaign.*/SmallSegment"
  "robustness_daemon_soak_test DaemonSoak.*"
)

failed=0
for campaign in "${campaigns[@]}"; do
  read -r binary filter <<<"$campaign"
  if [[ ! -x $dir/$binary ]]; then
    echo "long_run.sh: $dir/$binary not built" >&2
    failed=1
    continue
  fi
  echo "== $filter (scale $NTPSYNCD_ROBUSTNESS_SCALE)"
  start=$SECONDS
  log=$(mktemp)
  if "${runner[@]}" "$dir/$binary" --gtest_filter="$filter" >"$log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=1
    grep -vE '^\[ campaign \]' "$log" | tail -n 40
  fi
  grep -E '^\[ campaign \]' "$log" | sed 's/^\[ campaign \] /   /'
  echo "   $result in $((SECONDS - start))s"
  rm -f "$log"
done
exit $failed
