#!/usr/bin/env bash
# Installs what is missing on a Debian 12 machine, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for pkg in cmake g++ libgtest-dev libgmock-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

jobs=$(nproc)
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/native -j"$jobs"
ctest --test-dir build/native -j"$jobs" --output-on-failure
