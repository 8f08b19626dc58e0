#!/usr/bin/env bash
# Installs the Debian packages the launcher needs to build, run and test.
# Only packages that are missing are installed; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format ccache
  clang libclang-rt-14-dev  # the sanitizer build (CMakePresets.json, preset asan)
  lld  # the linker the build takes when installed (cmake/JovBuildSpeed.cmake)
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libqt6sql6-psql libgl-dev
  libcpp-httplib-dev libcurl4-openssl-dev nlohmann-json3-dev libzip-dev zlib1g-dev libssl-dev libbrotli-dev
  libboost-dev libzstd-dev zstd
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  sqlite3 postgresql xvfb xauth xdotool x11-utils libcap2-bin iputils-ping procps util-linux
  iproute2 zip unzip curl openssl python3
  qt6-qpa-plugins libxkbcommon-x11-0
  fonts-dejavu-core fonts-liberation chromium
  # the rollouts' panel clicked in a real browser (server/tests/rollout_browser_test.py)
  chromium-driver python3-selenium python3-cryptography
  locales libc-l10n libxcb1-dev
  # packaging (scripts/package.sh) and the installed packages' tests: what jov-caixa and
  # jov-servidor depend on, so that installing them needs nothing more
  dpkg-dev file lintian systemd adduser polkitd
  cage xwayland grim qt6-wayland seatd
  # a shop's cache for the tests (tests/shop/), started by the test with its own config
  squid
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

# The tests check system texts under a translated UTF-8 locale (glibc's Portuguese messages
# come with libc-l10n); generate it once.
if ! locale -a 2>/dev/null | grep -qix 'pt_BR.utf8'; then
  echo "install-deps: generating the pt_BR.UTF-8 locale"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" sed -i -E 's/^# *(pt_BR\.UTF-8 UTF-8)/\1/' /etc/locale.gen
  grep -qx 'pt_BR.UTF-8 UTF-8' /etc/locale.gen ||
    echo 'pt_BR.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
