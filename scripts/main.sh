#!/usr/bin/env bash
# The main job: builds the talvo program and runs it on the sample data shipped in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target talvo_tool
echo "talvo: not yet wired to sample data"
