#!/usr/bin/env bash
# Installs what the build needs on a Debian machine when it is missing (only when run as root).
set -euo pipefail
packages=(cmake make ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libflac-dev libebur128-dev libcli11-dev pkg-config binutils
          libsoxr-dev time libcairo2-dev fonts-dejavu-core libxml2-dev ladspa-sdk lilv-utils lv2-dev lv2file sox libsox-fmt-all
          pipewire pipewire-bin wireplumber dbus ardour
          g++-mingw-w64-i686 mingw-w64-i686-dev gcc-multilib g++-multilib qemu-user
          dpkg-dev file help2man lintian bash-completion)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
fi
