#!/usr/bin/env bash
# Draws the program icon, qyrdelay.ico beside this script: "延" in white on a blue rounded
# square, rendered at each size on its own so the small sizes stay sharp.
# Needs ImageMagick and the WenQuanYi Micro Hei font (cmake/install-deps.sh installs both).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
font="$(fc-match -f '%{file}' 'WenQuanYi Micro Hei')"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

frames=()
for size in 16 32 48 64 128 256; do
  radius=$((size / 6))
  glyph=$((size * 13 / 16))
  convert -size "${size}x${size}" xc:none \
    -fill '#1e5aa8' -draw "roundrectangle 0,0 $((size - 1)),$((size - 1)) $radius,$radius" \
    -font "$font" -pointsize "$glyph" -fill white -gravity center -annotate +0+0 '延' \
    -strip "PNG32:$work/$size.png"
  frames+=("$work/$size.png")
done
# No metadata (timestamps), so redrawing gives the same bytes.
convert "${frames[@]}" -strip "$here/qyrdelay.ico"
