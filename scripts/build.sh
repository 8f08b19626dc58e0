#!/usr/bin/env bash
# Installs what is missing, then configures the default preset and builds it, or what the build
# preset given builds (scripts/test.sh: "unsanitized").
# Usage: scripts/build.sh [BUILD_PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset "${1:-default}"
