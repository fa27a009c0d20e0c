#!/usr/bin/env bash
# The system at work without hardware: builds, installs the server into a fresh folder with the
# example network of host/demo/Ostrel.INI (three stations, one of them behind a relay station),
# starts the radio-network simulator on a pty in place of the central radio modem, registers the
# host, lets it poll the network for a few seconds, shows the channels' live values and stops
# everything.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

folder=$(mktemp -d /tmp/qar-demo-XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$folder"
}
trap cleanup EXIT

# The server folder: the host, the server library and what they load, and the network.
cmake --install build --prefix "$folder" >/dev/null
port="$folder/radio-sim.tty"
# The configurator names a serial port; here the server gets the simulator's pty instead.
LC_ALL=C sed "s|^RS232=COM1,|RS232=$port,|" host/demo/Ostrel.INI > "$folder/Ostrel.INI"
# A registry and a socket folder of the demo's own, so nothing of the user's is touched.
export QAR_REGISTRY="$folder/registry"
export XDG_RUNTIME_DIR="$folder/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"

build/tools/radio-sim --ini "$folder" --link "$port" --radio-delay 50 >"$folder/radio-sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^ready' "$folder/radio-sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$folder/radio-sim.out"; exit 1; }
  sleep 0.1
done
grep -q '^ready' "$folder/radio-sim.out" || { echo "radio-sim did not come up"; exit 1; }

"$folder/ostrel-host" -REGSERVER
echo "== $folder: $(ls "$folder" | tr '\n' ' ')"
echo "== ostrel-host serves the network for 5 seconds, then prints its namespace and stops"
"$folder/ostrel-host" --dump-after 5 > "$folder/dump.txt"

# The channels (the items with channel properties): value in the channel's unit with its
# decimals, quality, time stamp, item ID.
LC_ALL=C awk -F'\t' '
  /^[^\t]/ { id = $1; value = $4; quality = $5; stamp = $6; unit = ""; decimals = 0; next }
  $2 == 5001 { unit = $5 }
  $2 == 5004 { decimals = $5 }
  $2 == 5007 {
    shown = unit; gsub(/[\200-\277]/, "", shown)  # width in characters, not UTF-8 bytes
    printf "%10.*f %s%*s  quality %3s  %s  %s\n", decimals, value, unit, 4 - length(shown), "", quality, stamp, id
  }
' "$folder/dump.txt"
echo "== $(grep -c '^[^	]' "$folder/dump.txt") items in all; quality 192 is good, 8 not yet polled"
"$folder/ostrel-host" -UNREGSERVER
