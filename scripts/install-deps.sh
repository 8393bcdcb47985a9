#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
# Needs root (or sudo) when something is missing; does nothing otherwise.
#   scripts/install-deps.sh [--packaging]
set -euo pipefail

packages=(cmake g++ make pkg-config libgtest-dev clang libclang-rt-14-dev libudev-dev libssl-dev
          nlohmann-json3-dev libcli11-dev qt6-base-dev qt6-base-dev-tools fonts-nanum)
# scripts/check-install.sh also validates the desktop files and manual pages and makes a
# Debian package (dpkg-shlibdeps needs file to find the programs).
if [ "${1:-}" = --packaging ]; then
    packages+=(desktop-file-utils appstream dpkg-dev file groff-base)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
