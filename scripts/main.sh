#!/usr/bin/env bash
# The main job: builds the talvo program and runs its demo on the sprite strips shipped in the
# repository: one screen with every drawing mode and the animations, captured at 32, 16 and 8
# bits per pixel. Then the sample photo is dithered for 256- and 16-colour displays.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target talvo_tool

out=build/main-job
mkdir -p "$out"
# tools/samples/{coin,walker,orb}.bmp were made with: scripts/make_sprites.py
(cd "$out" && ../bin/talvo demo --seconds 1)
echo "talvo: the demo pictures are in $out: demo-32.jpg, demo-16.jpg and demo-8.bmp"

# tools/samples/photo.bmp was made with: scripts/make_photo.py tools/samples/photo.bmp 160 120
sample="$PWD/tools/samples/photo.bmp"
(cd "$out" && ../bin/talvo dither "$sample" photo-256.bmp --repeat 20)
(cd "$out" && ../bin/talvo dither "$sample" photo-16.bmp --colors 16)
echo "talvo: dithered $sample to $out/photo-256.bmp and $out/photo-16.bmp"
