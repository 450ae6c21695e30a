#!/usr/bin/env bash
# Sets up, builds the plugin, and shows it working in the project's own host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
scripts/build.sh build

echo
echo "== The plugin as a host sees it"
build/spuhost info build/libspuTalvane.so

echo
echo "== A short register script (demo/registers.script)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$OLDPWD/build/spuhost" script "$OLDPWD/build/libspuTalvane.so" \
    "$OLDPWD/demo/registers.script" --reads reads.txt && cat reads.txt)

echo
echo "== The demo tune (demo/demo.script with demo/instruments.adpcm), rendered by the plugin"
build/spuhost render build/libspuTalvane.so --demo --wav demo.wav
echo "Listen to it: $(pwd)/demo.wav (for example: aplay demo.wav)"

# Live, as an emulator plays it: through the configured device (OSS by default)
# when the machine has one.
if [ -c /dev/dsp ]; then
    echo
    echo "== Playing the demo tune live through /dev/dsp"
    build/spuhost play build/libspuTalvane.so --demo
else
    echo "(No /dev/dsp here, so the demo is not played live; 'build/spuhost play build/libspuTalvane.so --demo' plays it where a device exists.)"
fi
