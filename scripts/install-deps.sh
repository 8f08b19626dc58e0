#!/usr/bin/env bash
# Installs the Debian packages the launcher needs to build, run and test.
# Only packages that are missing are installed; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  libcpp-httplib-dev nlohmann-json3-dev libzip-dev zlib1g-dev libssl-dev libbrotli-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sqlite3 postgresql xvfb xauth xdotool x11-utils libcap2-bin iputils-ping procps util-linux
  iproute2 zip python3 openssl
  qt6-qpa-plugins libxkbcommon-x11-0
  fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
