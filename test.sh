#!/usr/bin/env bash
# Builds everything and runs every test: the portable rules natively (ASan + UBSan), then the
# Windows program and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")"
bash cmake/install-deps.sh
cmake --workflow --preset native
cmake --workflow --preset windows
if [ -f tests/fuzz/run.sh ]; then bash tests/fuzz/run.sh; fi
