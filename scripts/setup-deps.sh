#!/usr/bin/env bash
# Installs what building, running and testing the plugin needs on Debian 12;
# with the argument "plugin", only what building the plugin and spuhost and playing
# the demo need. As root it installs the missing packages with apt-get; otherwise
# it names them. Safe to run again at any time.
set -euo pipefail

PACKAGES=(build-essential cmake libsdl1.2-dev libfltk1.3-dev libpng-dev)
if [ "${1:-}" != plugin ]; then
    PACKAGES+=(
        pkg-config clang-format
        googletest libgtest-dev libbenchmark-dev
        xvfb xdotool x11-utils imagemagick
        clang libclang-rt-14-dev
        pcsxr libgl1-mesa-dri gcc-mipsel-linux-gnu binutils-mipsel-linux-gnu
        fuse3 libfuse3-dev
    )
fi

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root: apt-get install ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}" >/dev/null
