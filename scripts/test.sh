#!/usr/bin/env bash
# The project's test command (README; .ci/run calls it and nothing else).
#
# On a Debian 12 machine, as root, without a terminal: installs what is
# missing, then
#   1. checks the formatting of our sources (clang-format);
#   2. builds natively and runs every test (ctest);
#   3. cross builds for the 32-bit ARM device and runs every test as ARM
#      binaries under user-mode emulation (qemu-arm), the cross-ABI test
#      included (ARM client, native stand-in settings server);
#   4. builds with AddressSanitizer + UndefinedBehaviorSanitizer and runs
#      every test; any report fails the test;
#   5. builds with ThreadSanitizer and runs every test (nearly all of them
#      run the stand-in settings server as a thread next to the client);
#   6. builds the fuzz targets with clang and runs each briefly;
#   7. runs clang-tidy over the library and the daemon;
#   8. builds the device firmware (ARM, MinSizeRel) and reports its footprint;
#      fails when ntpsyncd needs the C++ runtime at run time.
# Every stage runs even when an earlier one failed (apart from stages that
# need an earlier build); the script ends with the summaries of the test
# runs and exits non-zero when anything failed.
#
# Environment (all optional): NTPSYNCD_BUILD_ROOT (default "build"),
# NTPSYNCD_JOBS (default: number of processors).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build_root=${NTPSYNCD_BUILD_ROOT:-build}
jobs=${NTPSYNCD_JOBS:-$(nproc)}
arm_prefix=arm-linux-gnueabihf-
started=$SECONDS

# --- Packages --------------------------------------------------------------
packages=(
  cmake make g++ pkg-config libgtest-dev libgmock-dev
  g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf qemu-user
  clang clang-tidy clang-format libclang-rt-14-dev
  python3 strace util-linux procps
)
missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
  echo "== installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi

# --- Stage bookkeeping -------------------------------------------------------
declare -a stage_report=()   # one line per stage: name, result, seconds
declare -a ctest_report=()   # ctest's own summary lines, per test run
failed=0

# run_stage NAME FUNCTION: runs FUNCTION in a subshell with errexit, records
# its result and duration, never stops the script.
run_stage() {
  local name=$1 fn=$2 t0=$SECONDS rc
  echo
  echo "=================== $name ==================="
  set +e
  ( set -e; "$fn" )
  rc=$?
  set -e
  local took=$((SECONDS - t0))
  if ((rc == 0)); then
    stage_report+=("$(printf '%-28s ok      %4ds' "$name" "$took")")
  else
    stage_report+=("$(printf '%-28s FAILED  %4ds (exit %d)' "$name" "$took" "$rc")")
    failed=1
  fi
  return 0
}

# run_ctest NAME BUILD_DIR [ctest args...]: runs ctest (behind the words of
# the array ctest_prefix, if any), keeps its summary.
ctest_prefix=()
run_ctest() {
  local name=$1 dir=$2 log rc
  shift 2
  log=$dir/ctest.log
  set +e
  "${ctest_prefix[@]}" ctest --test-dir "$dir" -j"$jobs" --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  return "$rc"
}

ctest_summary() {
  local name=$1 log=$2/ctest.log line
  if [[ -f $log ]]; then
    while IFS= read -r line; do
      ctest_report+=("$(printf '%-22s %s' "$name:" "$line")")
    done < <(grep -E 'tests passed|tests failed out of|No tests were found|Total Test time' "$log")
  else
    ctest_report+=("$(printf '%-22s %s' "$name:" "no test run")")
  fi
}

configure() {
  local dir=$1
  shift
  cmake -S "$repo" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}

mkdir -p "$build_root"
native=$build_root/native
arm=$build_root/arm
asan=$build_root/asan
tsan=$build_root/tsan
firmware=$build_root/arm-firmware
fuzz=$build_root/fuzz
rm -f "$native/ctest.log" "$arm/ctest.log" "$asan/ctest.log" "$tsan/ctest.log"

# --- Stages ------------------------------------------------------------------
stage_format() {
  local files
  mapfile -t files < <(git ls-files '*.c' '*.h' '*.cpp' '*.cc' 2>/dev/null ||
    find settings_client daemon tools tests bench fuzz -name '*.[ch]' -o -name '*.cpp' 2>/dev/null)
  echo "checking ${#files[@]} files"
  clang-format --dry-run --Werror "${files[@]}"
}

stage_native() {
  configure "$native"
  cmake --build "$native" -j"$jobs"
  run_ctest native "$native"
}

stage_arm() {
  configure "$arm" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/arm-linux-gnueabihf.cmake" \
    -DNTPSYNCD_NATIVE_SETTINGS_SERVER="$repo/$native/tools/settings_server/settings-server"
  cmake --build "$arm" -j"$jobs"
  # Run the ARM programs only through the emulator that the build names, as
  # on a machine where the kernel cannot start ARM programs by itself (CI):
  # where possible, hide this machine's binfmt_misc handlers behind an empty
  # instance in a user namespace.
  local hide='mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && exec "$@"'
  if unshare --user --map-root-user --mount sh -c "$hide" sh true 2>/dev/null; then
    ctest_prefix=(unshare --user --map-root-user --mount sh -c "$hide" sh)
    echo "ARM tests run with no binfmt_misc handlers"
  fi
  run_ctest arm "$arm"
}

stage_asan() {
  configure "$asan" -DNTPSYNCD_SANITIZE=address,undefined
  cmake --build "$asan" -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest asan+ubsan "$asan"
}

stage_tsan() {
  configure "$tsan" -DNTPSYNCD_SANITIZE=thread
  cmake --build "$tsan" -j"$jobs"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest tsan "$tsan"
}

stage_fuzz() {
  if [[ ! -f tests/fuzz/CMakeLists.txt ]]; then
    echo "no fuzz targets"
    return 0
  fi
  CC=clang CXX=clang++ configure "$fuzz" -DNTPSYNCD_BUILD_FUZZ=ON -DNTPSYNCD_BUILD_TESTS=OFF
  cmake --build "$fuzz" -j"$jobs" --target fuzz_targets
  tests/fuzz/smoke.sh "$fuzz" 20
}

stage_tidy() {
  [[ -f $native/compile_commands.json ]] || { echo "no native build to take flags from"; return 1; }
  # Our product code only: the library and the daemon.
  run-clang-tidy -quiet -j "$jobs" -p "$native" "$repo/(settings_client|daemon)/.*\.(c|cpp)$" \
    >"$build_root/clang-tidy.log" 2>&1 || { cat "$build_root/clang-tidy.log"; return 1; }
  if grep -E '(warning|error):' "$build_root/clang-tidy.log"; then return 1; fi
  echo "clang-tidy: no findings"
}

stage_footprint() {
  cmake -S "$repo" -B "$firmware" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/arm-linux-gnueabihf.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DNTPSYNCD_BUILD_TESTS=OFF >"$firmware.configure.log" 2>&1 ||
    { cat "$firmware.configure.log"; return 1; }
  cmake --build "$firmware" -j"$jobs" --target settings_client ntpsyncd
  local out=$firmware/stripped
  mkdir -p "$out"
  "${arm_prefix}strip" -s -o "$out/ntpsyncd" "$firmware/daemon/ntpsyncd"
  "${arm_prefix}strip" --strip-unneeded -o "$out/libsettings_client.a" \
    "$firmware/settings_client/libsettings_client.a"
  local daemon_size lib_size code_size
  daemon_size=$(stat -c %s "$out/ntpsyncd")
  lib_size=$(stat -c %s "$out/libsettings_client.a")
  code_size=$("${arm_prefix}size" -t "$out/libsettings_client.a" | awk 'END { print $4 }')
  echo "ntpsyncd (ARM, MinSizeRel, stripped):            $daemon_size bytes"
  echo "libsettings_client.a (ARM, stripped archive):    $lib_size bytes"
  echo "libsettings_client.a objects, text+data+bss:     $code_size bytes"
  echo "ntpsyncd needs at run time:"
  "${arm_prefix}readelf" -d "$out/ntpsyncd" | grep NEEDED | sed 's/^/  /'
  if ((daemon_size > 32768)); then
    echo "WARNING: ntpsyncd is above its 32 KiB target"
  fi
  if "${arm_prefix}readelf" -d "$out/ntpsyncd" | grep NEEDED | grep -E 'libstdc\+\+|libgcc_s'; then
    echo "ntpsyncd must need only the C library at run time"
    return 1
  fi
}

run_stage "format" stage_format
run_stage "native build + tests" stage_native
run_stage "ARM build + tests (qemu)" stage_arm
run_stage "ASan+UBSan build + tests" stage_asan
run_stage "TSan build + tests" stage_tsan
run_stage "fuzz smoke (clang)" stage_fuzz
run_stage "clang-tidy" stage_tidy
run_stage "ARM firmware footprint" stage_footprint

# --- Summary -------------------------------------------------------------------
ctest_summary native "$native"
ctest_summary "arm (qemu)" "$arm"
ctest_summary asan+ubsan "$asan"
ctest_summary tsan "$tsan"
echo
echo "=================== summary ($((SECONDS - started))s) ==================="
printf '%s\n' "${stage_report[@]}"
echo
printf '%s\n' "${ctest_report[@]}"

# One closing line over all four test runs: test cases passed and failed.
total_passed=0
total_failed=0
for dir in "$native" "$arm" "$asan" "$tsan"; do
  line=$(grep -E 'tests failed out of' "$dir/ctest.log" 2>/dev/null | tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    total_failed=$((total_failed + BASH_REMATCH[1]))
    total_passed=$((total_passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  fi
done
echo
echo "tests: $total_passed passed, $total_failed failed"
exit "$failed"
