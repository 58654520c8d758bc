#!/usr/bin/env bash
# Builds everything and runs quelmar in this terminal against the ECU simulator: a running
# engine with stored faults, which show after the 20th poll. "q" ends the tool and the
# simulator with it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 >/dev/null

link="$PWD/build/demo-ecu"
build/sim/quelmar-sim --link "$link" --baud 4800 --faults 28:0x02:40,45:0x08:90,225:0x04:12 >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
done
status=0
build/quelmar "$link" || status=$?
wait $sim 2>/dev/null || true
exit $status
