#!/usr/bin/env bash
# Renders the application icon from its drawing, packaging/icons/tarnhollow.svg:
# the PNG sizes the Linux desktop uses and the Mac's .icns. The results are
# committed, so that building needs neither tool; run this after changing
# the drawing. Needs rsvg-convert (librsvg2-bin) and png2icns (icnsutils).
set -euo pipefail
cd "$(dirname "$0")/../packaging/icons"
mkdir -p png
for size in 16 32 48 64 128 256 512; do
  rsvg-convert -w "$size" -h "$size" tarnhollow.svg -o "png/tarnhollow-$size.png"
done
# icns takes 16, 32, 48, 128, 256 and 512.
png2icns Tarnhollow.icns png/tarnhollow-{16,32,48,128,256,512}.png >/dev/null
ls -l png Tarnhollow.icns
