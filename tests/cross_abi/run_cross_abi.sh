#!/bin/sh
# Cross-ABI exchange, run inside a private IPC namespace (unshare --ipc):
#   run_cross_abi.sh SERVER CLIENT-COMMAND...
# Starts SERVER (a settings-server for the build machine) with stored answers
# and a request log, runs the client command (in a cross build: the emulator
# and the ARM client), then compares every request the server took off the
# queue -- all six fields, the text size and the payload bytes it read from
# the segment -- with what the client must have sent as client 7.
set -eu
server=$1
shift

work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# hex BYTE...: the given byte values as lower-case hex, no separators.
hex() { for b in "$@"; do printf '%02x' "$b"; done; }
# seq_bytes COUNT FIRST STEP: COUNT values FIRST, FIRST+STEP, ...
seq_bytes() { i=0; while [ "$i" -lt "$1" ]; do printf '%d ' $(($2 + i * $3)); i=$((i + 1)); done; }
zeros() { i=0; while [ "$i" -lt "$1" ]; do printf '00'; i=$((i + 1)); done; }

# Answers: command 3 a name; 501 sixteen bytes a0..af; 503 a record with
# kind 0x0a0b0c0d, length 5, data "hello".
answer_501=$(hex $(seq_bytes 16 160 1))
answer_503=0d0c0b0a05000000$(hex 104 101 108 108 111)$(zeros 123)

mkfifo "$work/server.out"
"$server" --reply 3=ntp.cross-abi.example --reply-hex "501=$answer_501" \
  --reply-hex "503=$answer_503" --log "$work/requests" >"$work/server.out" &
server_pid=$!
exec 3<"$work/server.out"
read -r ready <&3 || true
if [ "${ready:-}" != ready ]; then
  echo "settings-server did not start"
  exit 1
fi

"$@" >"$work/client.out" 2>&1 || { cat "$work/client.out"; exit 1; }
cat "$work/client.out"

# A client under emulation must be the device's 32-bit one.
if [ $# -gt 1 ] && ! grep -q 'sizeof(long)=4 sizeof(SettingsRequest)=24' "$work/client.out"; then
  echo "the emulated client is not a 32-bit client"
  exit 1
fi

# The notification gets no reply: wait (bounded) until it is in the log.
tries=0
until [ -f "$work/requests" ] && [ "$(wc -l <"$work/requests")" -ge 6 ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then break; fi
  sleep 0.05
done
kill -TERM "$server_pid"
wait "$server_pid"
server_pid=

slot=61440  # payload slot of client 7: (7 - 2) * 12288
# Msg_Send passes the record less its type word: 20 bytes on the device, 24
# where long is 8 bytes (the record is padded to 32 there).
long_size=$(sed -n 's/.*sizeof(long)=\([0-9]*\).*/\1/p' "$work/client.out")
record_size=$(sed -n 's/.*sizeof(SettingsRequest)=\([0-9]*\).*/\1/p' "$work/client.out")
raw_text=$((record_size - long_size))
cat >"$work/expected" <<EXPECTED
command=3 source=7 reserved=0 length=0 offset=0 mtype=1 text=20 payload=
command=501 source=7 reserved=0 length=40 offset=$slot mtype=1 text=20 payload=$(hex $(seq_bytes 40 1 5))
command=502 source=7 reserved=0 length=40 offset=$slot mtype=1 text=20 payload=$(hex $(seq_bytes 40 255 -1))
command=503 source=7 reserved=0 length=136 offset=$slot mtype=1 text=20 payload=0403020103000000$(hex 97 98 99)$(zeros 125)
command=505 source=7 reserved=0 length=0 offset=0 mtype=1 text=$raw_text payload=
command=433 source=0 reserved=0 length=0 offset=0 mtype=1 text=20 payload=
EXPECTED
if ! diff -u "$work/expected" "$work/requests"; then
  echo "the server saw other requests than the client sent (diff: expected, seen)"
  exit 1
fi
echo "server saw exactly the expected requests"
