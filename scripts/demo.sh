#!/usr/bin/env bash
# Sets up, builds the plugin, and shows it working in the project's own host. Only
# the plugin and spuhost are built, and only what they need is installed: the test
# suite and its libraries come with scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh plugin
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSPU_BUILD_TESTS=OFF -DSPU_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target spuTalvane spuhost

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

# Live, as an emulator plays it: through OSS where the machine has /dev/dsp, else
# through SDL where a sound server (PulseAudio, PipeWire) or an ALSA device is
# there to play it.
if [ -c /dev/dsp ]; then
    echo
    echo "== Playing the demo tune live through /dev/dsp"
    build/spuhost play build/libspuTalvane.so --demo --device oss
elif [ -n "${PULSE_SERVER:-}" ] || [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ] ||
    [ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pipewire-0" ] || [ -n "${SDL_AUDIODRIVER:-}" ] ||
    ls /dev/snd/pcmC*p >/dev/null 2>&1; then
    echo
    echo "== Playing the demo tune live through SDL"
    build/spuhost play build/libspuTalvane.so --demo --device sdl
else
    echo "(No sound device or sound server here, so the demo is not played live;" \
        "'build/spuhost play build/libspuTalvane.so --demo --device sdl' plays it where one exists.)"
fi
