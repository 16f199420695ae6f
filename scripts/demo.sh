#!/usr/bin/env bash
# Demo: the real ntpsyncd on a simulated camera.
#
# Builds the daemon and the stand-in settings server, then, in private mount
# and IPC namespaces (through a user namespace when not run as root):
#   - mounts a tmpfs over /mnt and /opt and writes /mnt/nand/onvif-ntp.conf,
#     a fake /opt/zarvik/ntpclient and a fake hwclock (first on PATH), both of
#     which only print what they were asked to do;
#   - starts the stand-in settings server, which stores "ntp.example.net" as
#     the NTP server name (field 2);
#   - starts ntpsyncd, shows its start-up sync, sends SIGUSR1, shows the
#     forced sync, and stops everything.
# The machine's own /mnt/nand, /opt/zarvik, hwclock and settings queue are
# never touched: everything lives in namespaces that vanish with the demo.
#
# Environment (optional): NTPSYNCD_BUILD_ROOT (default "build").
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=${NTPSYNCD_BUILD_ROOT:-build}/demo
server_name=ntp.example.net

say() { printf '\n== %s\n' "$*"; }
die() {
  printf 'demo: %s\n' "$*" >&2
  exit 1
}

# --- Outside the namespaces: packages, build, then re-enter ---------------------
if [[ ${1:-} != --on-device ]]; then
  missing=()
  for tool in cmake make g++ unshare; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    ((EUID == 0)) || die "missing tools: ${missing[*]} (install cmake make g++ util-linux)"
    say "installing cmake make g++ util-linux"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends cmake make g++ util-linux </dev/null
  fi

  say "building ntpsyncd and the stand-in settings server in $build"
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNTPSYNCD_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$(nproc)" --target ntpsyncd settings-server >/dev/null

  if ((EUID == 0)); then
    namespaces=(--mount --ipc --fork)
  else
    say "not root: entering a user namespace (unshare --user --map-root-user)"
    namespaces=(--user --map-root-user --mount --ipc --fork)
  fi
  exec unshare "${namespaces[@]}" --propagation private -- "$0" --on-device "$(cd "$build" && pwd)"
fi

# --- Inside: private mount and IPC namespaces ------------------------------------
build=$2
daemon=$build/daemon/ntpsyncd
settings_server=$build/tools/settings_server/settings-server
[[ -d /mnt && -d /opt ]] || die "/mnt and /opt must exist to be covered by the simulated device"

say "simulated device: tmpfs over /mnt and /opt, settings file, fake ntpclient and hwclock"
mount -t tmpfs -o mode=0755 demo-nand /mnt
mount -t tmpfs -o mode=0755 demo-opt /opt
mkdir -p /mnt/nand /opt/zarvik /opt/demo-bin
printf 'DHCP 0\nenable 1\ndaylight 0\ntimezone CET-1CEST\n' >/mnt/nand/onvif-ntp.conf
cat >/opt/zarvik/ntpclient <<'EOF'
#!/bin/sh
# Fake NTP client: says what it was asked to do.
server=
while [ $# -gt 0 ]; do
  if [ "$1" = -h ]; then server=$2; fi
  shift
done
echo "[fake ntpclient] asked to set the system clock from '$server'"
EOF
cat >/opt/demo-bin/hwclock <<'EOF'
#!/bin/sh
# Fake hwclock: says what it was asked to do.
echo "[fake hwclock] hwclock $*: asked to write the system time to the hardware clock (UTC)"
EOF
chmod 0755 /opt/zarvik/ntpclient /opt/demo-bin/hwclock
sed 's/^/    /' /mnt/nand/onvif-ntp.conf

work=$(mktemp -d)
transcript=$work/transcript
server_output=$work/server-output
: >"$transcript"
: >"$server_output"
server_pid=
daemon_pid=
cleanup() {
  [[ -n $daemon_pid ]] && kill -KILL "$daemon_pid" 2>/dev/null
  [[ -n $server_pid ]] && kill -TERM "$server_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# await DESCRIPTION COMMAND...: polls COMMAND for up to 10 seconds; gives up
# at once when the server or the daemon has ended.
await() {
  local what=$1 tries=0
  shift
  until "$@"; do
    [[ -z $server_pid ]] || kill -0 "$server_pid" 2>/dev/null || die "the settings server ended"
    [[ -z $daemon_pid ]] || kill -0 "$daemon_pid" 2>/dev/null || die "ntpsyncd ended"
    ((++tries <= 200)) || die "timed out waiting for $what"
    sleep 0.05
  done
}
# Prints what the daemon and the fakes wrote since the last call.
shown=0
show_new() {
  tail -n +"$((shown + 1))" "$transcript" | sed 's/^/  | /'
  shown=$(wc -l <"$transcript")
}
syncs_done() { (($(grep -c 'fake hwclock' "$transcript") >= $1)); }
# The daemon is in its one-second sleep, so a sync has fully ended.
daemon_sleeping() { grep -q nanosleep "/proc/$daemon_pid/wchan" 2>/dev/null; }

say "stand-in settings server (private IPC namespace) stores NTP server name '$server_name'"
"$settings_server" --reply "3=$server_name" >"$server_output" &
server_pid=$!
await "the settings server" grep -q ready "$server_output"

say "starting ntpsyncd (below: its standard error and what the fakes were asked to do)"
PATH=/opt/demo-bin:$PATH "$daemon" </dev/null >>"$transcript" 2>&1 &
daemon_pid=$!
await "the start-up sync" syncs_done 1
show_new

await "the daemon to go idle" daemon_sleeping
say "kill -USR1 $daemon_pid (force a sync)"
kill -USR1 "$daemon_pid"
await "the forced sync" syncs_done 2
show_new

say "stopping ntpsyncd and the settings server"
kill -TERM "$daemon_pid"
wait "$daemon_pid" 2>/dev/null || true
daemon_pid=
kill -TERM "$server_pid"
wait "$server_pid" || die "the settings server did not stop cleanly"
server_pid=
echo "    done: two syncs, each asked the settings server for field 2 and ran the NTP client, then hwclock"
