#!/usr/bin/env bash
# What the idle ntpsyncd costs, and how fast it answers SIGUSR1.
#
#   bench/daemon_idle.sh [--idle SECONDS] [--signals N]
#
# Builds the daemon, the stand-in settings server and the benchmark's fake
# NTP client (-DNTPSYNCD_BUILD_BENCH=ON) in $NTPSYNCD_BUILD_ROOT/benchmarks
# (default build/benchmarks), then runs the real daemon on a simulated
# device as scripts/demo.sh does: private mount and IPC namespaces, tmpfs
# over /mnt and /opt, the settings file at /mnt/nand/onvif-ntp.conf (DHCP 0:
# every sync asks the settings server for field 2), a fake
# /opt/zarvik/ntpclient that reports when it started, and a fake hwclock
# first on PATH. After the
# daemon's start-up sync it measures, one after the other:
#   1. --idle seconds (default 20) left alone: CPU time (scheduler's count
#      in ns, and utime+stime in clock ticks), passes (one voluntary context
#      switch each: the sleep), resident and anonymous memory;
#   2. --idle seconds more under "strace -c -f": the system calls made, per
#      idle pass (a pass is one clock_nanosleep);
#   3. --signals SIGUSR1 (default 50), each sent while the daemon sleeps,
#      once the previous sync has ended: the time from the signal to the
#      start of the NTP client (both read from CLOCK_REALTIME).
# Needs root (or a user namespace), strace and awk. Nothing outside the
# namespaces is touched.
set -euo pipefail
export LC_ALL=C  # a '.' in $EPOCHREALTIME and in the numbers read back
cd "$(dirname "$0")/.."
repo=$PWD

die() {
  printf 'daemon_idle: %s\n' "$*" >&2
  exit 1
}

# --- Outside the namespaces: build, then re-enter --------------------------------
if [[ ${1:-} != --on-device ]]; then
  idle=20
  signals=50
  while (($#)); do
    case $1 in
      --idle) idle=${2:?}; shift 2 ;;
      --signals) signals=${2:?}; shift 2 ;;
      *) die "usage: bench/daemon_idle.sh [--idle SECONDS] [--signals N]" ;;
    esac
  done
  [[ $idle =~ ^[1-9][0-9]*$ && $signals =~ ^[1-9][0-9]*$ ]] || die "counts must be positive integers"
  for tool in cmake g++ strace unshare awk; do
    command -v "$tool" >/dev/null 2>&1 || die "missing tool: $tool (apt-get install cmake g++ strace util-linux gawk)"
  done

  build=${NTPSYNCD_BUILD_ROOT:-build}/benchmarks
  echo "== building ntpsyncd, settings-server and fake-ntpclient in $build"
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNTPSYNCD_BUILD_TESTS=OFF \
    -DNTPSYNCD_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j"$(nproc)" --target ntpsyncd settings-server fake-ntpclient >/dev/null

  if ((EUID == 0)); then
    namespaces=(--mount --ipc --fork)
  else
    namespaces=(--user --map-root-user --mount --ipc --fork)
  fi
  exec unshare "${namespaces[@]}" --propagation private -- \
    "$0" --on-device "$(cd "$build" && pwd)" "$idle" "$signals"
fi

# --- Inside: private mount and IPC namespaces --------------------------------------
build=$2
idle=$3
signals=$4
daemon=$build/daemon/ntpsyncd
[[ -d /mnt && -d /opt ]] || die "/mnt and /opt must exist to be covered by the simulated device"

mount -t tmpfs -o mode=0755 idle-nand /mnt
mount -t tmpfs -o mode=0755 idle-opt /opt
mkdir -p /mnt/nand /opt/zarvik /opt/idle-bin
printf 'DHCP 0\nenable 1\ndaylight 0\ntimezone CET-1CEST\n' >/mnt/nand/onvif-ntp.conf
cp "$build/bench/fake-ntpclient" /opt/zarvik/ntpclient
printf '#!/bin/sh\necho "hwclock $*" >&2\n' >/opt/idle-bin/hwclock
chmod 0755 /opt/zarvik/ntpclient /opt/idle-bin/hwclock

work=$(mktemp -d)
transcript=$work/transcript
: >"$transcript"
server_pid=
daemon_pid=
strace_pid=
cleanup() {
  [[ -n $strace_pid ]] && kill -KILL "$strace_pid" 2>/dev/null
  [[ -n $daemon_pid ]] && kill -KILL "$daemon_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill -TERM "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# await DESCRIPTION COMMAND...: polls COMMAND every 20 ms for up to 10 s. The
# latencies are read from time stamps, so polling need not be quick; slower
# polling leaves the processors to the daemon.
await() {
  local what=$1 tries=0
  shift
  until "$@"; do
    kill -0 "$daemon_pid" 2>/dev/null || die "ntpsyncd ended"
    ((++tries <= 500)) || die "timed out waiting for $what"
    sleep 0.02
  done
}
syncs_done() { (($(grep -c '^hwclock' "$transcript") >= $1)); }
daemon_sleeping() { grep -q nanosleep "/proc/$daemon_pid/wchan" 2>/dev/null; }
status_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$daemon_pid/status"; }
rollup_kib() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$daemon_pid/smaps_rollup"; }
cpu_ns() { awk '{ print $1 }' "/proc/$daemon_pid/schedstat"; }
cpu_ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$daemon_pid/stat"; }

: >"$work/server"
"$build/tools/settings_server/settings-server" --reply 3=ntp.example.net >"$work/server" &
server_pid=$!
for _ in $(seq 200); do grep -q ready "$work/server" && break; sleep 0.05; done
grep -q ready "$work/server" || die "the settings server did not start"

PATH=/opt/idle-bin:$PATH "$daemon" </dev/null >>"$transcript" 2>&1 &
daemon_pid=$!
await "the start-up sync" syncs_done 1
await "the daemon to sleep" daemon_sleeping

# 1. Left alone.
ns0=$(cpu_ns)
ticks0=$(cpu_ticks)
passes0=$(status_kib voluntary_ctxt_switches)
sleep "$idle"
ns1=$(cpu_ns)
ticks1=$(cpu_ticks)
passes1=$(status_kib voluntary_ctxt_switches)
passes=$((passes1 - passes0))
rss=$(status_kib VmRSS)
hwm=$(status_kib VmHWM)
rss_anon=$(status_kib RssAnon)
rss_file=$(status_kib RssFile)
anonymous=$(rollup_kib Anonymous)
private_dirty=$(rollup_kib Private_Dirty)

# 2. Under strace.
strace -c -f -p "$daemon_pid" -o "$work/strace" 2>/dev/null &
strace_pid=$!
sleep "$idle"
kill -INT "$strace_pid"
wait "$strace_pid" || true
strace_pid=
# Columns: % time, seconds, usecs/call, calls, [errors,] syscall.
calls_of() { awk -v name="$1" '$NF == name { print $4 }' "$work/strace"; }
total_calls=$(awk '$NF == "total" { print $4 }' "$work/strace")
sleeps=$(calls_of clock_nanosleep)
restarts=$(calls_of restart_syscall)
sleeps=${sleeps:-0}
restarts=${restarts:-0}

# 3. SIGUSR1 to the start of the NTP client.
await "the daemon to sleep" daemon_sleeping
syncs=$(grep -c '^hwclock' "$transcript")
: >"$work/sent"
for ((i = 1; i <= signals; ++i)); do
  sleep "$(printf '0.%03d' $((RANDOM % 700 + 100)))"  # somewhere within the one-second sleep
  await "the daemon to sleep" daemon_sleeping
  printf '%s\n' "$EPOCHREALTIME" >>"$work/sent"
  kill -USR1 "$daemon_pid"
  await "forced sync $i" syncs_done $((syncs + i))
done
grep -o 'started [0-9.]*' "$transcript" | awk '{ print $2 }' | tail -n "$signals" >"$work/started"
latencies=$(paste "$work/sent" "$work/started" | awk '{ printf "%.3f\n", ($2 - $1) * 1000 }' | sort -g)
count=$(wc -l <<<"$latencies")
median=$(awk -v n="$count" 'NR == int((n + 1) / 2) { a = $1 } NR == int(n / 2) + 1 { b = $1 }
  END { printf "%.3f", (a + b) / 2 }' <<<"$latencies")
p90=$(awk -v n="$count" 'NR == int(n * 0.9 + 0.999) { print $1 }' <<<"$latencies")
minimum=$(head -n 1 <<<"$latencies")
maximum=$(tail -n 1 <<<"$latencies")

cpu_us=$(awk -v ns=$((ns1 - ns0)) 'BEGIN { printf "%.0f", ns / 1000 }')
cpu_share=$(awk -v ns=$((ns1 - ns0)) -v s="$idle" 'BEGIN { printf "%.5f", ns / (s * 1e7) }')
cpu_per_pass=$(awk -v ns=$((ns1 - ns0)) -v p="$passes" 'BEGIN { printf "%.1f", p ? ns / 1000 / p : 0 }')
per_pass=$(awk -v t="$total_calls" -v r="$restarts" -v s="$sleeps" \
  'BEGIN { printf "%.2f", s ? (t - r) / s : 0 }')
clocksource=$(cat /sys/devices/system/clocksource/clocksource0/current_clocksource 2>/dev/null || echo unknown)

echo
echo "ntpsyncd after its start-up sync"
echo "machine: $(nproc) CPUs, $(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)," \
  "$(uname -m), kernel $(uname -r), clocksource $clocksource, load average $(cut -d' ' -f1-3 /proc/loadavg)"
row() { printf '  %-44s %s\n' "$1" "$2"; }
row "idle window, left alone" "$idle s, $passes passes"
row "CPU time in it (scheduler)" "$cpu_us us, $cpu_share % of one CPU, $cpu_per_pass us per pass"
row "CPU time in it (utime+stime)" "$((ticks1 - ticks0)) clock ticks"
row "resident memory (VmRSS / VmHWM)" "$rss KiB / $hwm KiB"
row "anonymous memory (RssAnon)" "$rss_anon KiB (file-backed: $rss_file KiB)"
row "anonymous memory (smaps_rollup Anonymous)" "$anonymous KiB (private dirty: $private_dirty KiB)"
row "idle window under strace -c -f" "$idle s, $sleeps clock_nanosleep"
row "system calls in it" "$total_calls (restart_syscall after the attach: $restarts)"
row "system calls per idle pass" "$per_pass"
row "SIGUSR1 to NTP client start ($count signals)" \
  "median $median ms, 90th percentile $p90 ms, min $minimum ms, max $maximum ms"
echo
echo "system calls in the traced window:"
sed -n '/^% time/,$p' "$work/strace" | sed 's/^/  /'
