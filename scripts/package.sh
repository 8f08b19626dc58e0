#!/usr/bin/env bash
# Makes the Debian packages jov-caixa (the register) and jov-servidor (the chain's server) into
# build/packages/, and checks both with lintian.
# Usage: scripts/package.sh [--no-build]   (--no-build: package the default build as it is)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" != --no-build ]; then
  # Only what the packages ship (cmake/JovDebian.cmake), not the tests.
  bash scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default --target jov_package_files
else
  bash scripts/install-deps.sh  # lintian and dpkg-shlibdeps, when only packaging
fi
mkdir -p build/packages
rm -f build/packages/*.deb
(cd build/default && cpack -G DEB --config CPackConfig.cmake >/dev/null) || {
  echo "package: cpack failed; see build/packages/_CPack_Packages" >&2
  exit 1
}
status=0
for deb in build/packages/*.deb; do
  echo "package: $deb"
  # Errors and warnings fail; info lines are shown.
  lintian --fail-on error,warning --display-info "$deb" || status=1
done
exit $status
