#!/usr/bin/env bash
# The main job: builds the talvo program and runs it on the sample data shipped in the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target talvo_tool

# tools/samples/photo.bmp was made with: scripts/make_photo.py tools/samples/photo.bmp 160 120
out=build/main-job
mkdir -p "$out"
sample="$PWD/tools/samples/photo.bmp"
(cd "$out" && ../bin/talvo dither "$sample" photo-256.bmp --repeat 20)
(cd "$out" && ../bin/talvo dither "$sample" photo-16.bmp --colors 16)
echo "talvo: dithered $sample to $out/photo-256.bmp and $out/photo-16.bmp"
