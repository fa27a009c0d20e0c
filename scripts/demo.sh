#!/usr/bin/env bash
# Installs what is missing, builds, and shows the server library at work without hardware:
# it is loaded by a stand-in host in a fresh installation folder, finds its folder through the
# registry, and writes its error log and trace file there. Then the end-to-end checks run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

install=$(mktemp -d /tmp/qar-demo-XXXXXX)
trap 'rm -rf "$install"' EXIT
cp build/server/opc/ostrel_load_check "$install/host"
printf '1\r\n' > "$install/DEBUG"
export QAR_REGISTRY="$install/registry"
printf '[HKEY_CLASSES_ROOT\\CLSID\\{5D2C8E71-0B4F-4A96-9E3D-71C4A2B8F605}\\LocalServer32]\n@="%s"\n' \
  "$install/host" > "$QAR_REGISTRY"
library="$PWD/build/server/opc/libOstrel.so"
(cd / && "$install/host" "$library")

echo "== $install/QAR_LOG.TXT"; cat "$install/QAR_LOG.TXT"
echo "== $install/Problem2.TXT"; cat "$install/Problem2.TXT"
echo
ctest --test-dir build -L e2e --output-on-failure
