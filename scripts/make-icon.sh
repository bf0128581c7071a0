#!/usr/bin/env bash
# Regenerates programs/res/Flashwright.ico (256, 128, 48, 32 and 16 px, 32-bit with alpha) from scratch:
# the two large images PNG-compressed, the small ones as DIBs.
# The glyph is a dark chip with silver pins and a green upward arrow: "update the firmware".
set -euo pipefail

# Use ImageMagick's own convert: a wrapper earlier on PATH may accept only a subset of its options.
CONVERT=${CONVERT:-/usr/bin/convert}
[ -x "$CONVERT" ] || CONVERT=convert

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/programs/res/Flashwright.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Palette.
bodyFill='#2f3844'
bodyEdge='#151a20'
bodyBevel='#4b5666'
bodyTop='#3a4452'
bodyBottom='#262d37'
pinFill='#c7cfd8'
pinEdge='#7d8895'
pinSmall='#a3aebb'
arrowFill='#34c46a'
arrowLight='#6ee596'
arrowEdge='#16743a'
dotFill='#4b5666'

# Renders one frame. Every size gets its own geometry, given in that size's pixel units and laid
# out on whole pixels, so the straight edges come out crisp. The drawing is done SS times larger
# and box-averaged down, which anti-aliases the diagonals without smearing the pixel-aligned edges.
#
# Arguments: size supersample
#   body: x0 y0 x1 y1 radius edgeWidth
#   pins: count height length pitch (pins are centred on the body's vertical middle)
#   arrow: apexY headBaseY headHalfWidth shaftHalfWidth shaftBottomY edgeWidth
#   detail: 1 adds the shaded face, bevel, pin-1 dot, arrow highlight and drop shadow (large sizes)
Frame() {
  local size=$1 ss=$2
  local bx0=$3 by0=$4 bx1=$5 by1=$6 br=$7 bw=$8
  local pinCount=$9 pinH=${10} pinLen=${11} pinPitch=${12}
  local apexY=${13} baseY=${14} headHalf=${15} shaftHalf=${16} shaftBottom=${17} aw=${18}
  local detail=${19} file=${20}
  local mvg="$work/frame$size.mvg"

  awk -v bx0="$bx0" -v by0="$by0" -v bx1="$bx1" -v by1="$by1" -v br="$br" -v bw="$bw" \
      -v n="$pinCount" -v ph="$pinH" -v pl="$pinLen" -v pp="$pinPitch" \
      -v ay="$apexY" -v hy="$baseY" -v hh="$headHalf" -v sh="$shaftHalf" -v sb="$shaftBottom" \
      -v aw="$aw" -v detail="$detail" -v ss="$ss" \
      -v bodyFill="$bodyFill" -v bodyEdge="$bodyEdge" -v bodyBevel="$bodyBevel" -v bodyTop="$bodyTop" -v bodyBottom="$bodyBottom" \
      -v pinFill="$pinFill" -v pinEdge="$pinEdge" -v pinSmall="$pinSmall" -v arrowFill="$arrowFill" \
      -v arrowLight="$arrowLight" -v arrowEdge="$arrowEdge" -v dotFill="$dotFill" '
    function s(v) { return v * ss }
    function rect(x0, y0, x1, y1, r, fill) {
      # Single quotes: the MVG parser does not resolve url(#...) inside double quotes.
      printf "fill \047%s\047\nroundrectangle %g,%g %g,%g %g,%g\n", fill, s(x0), s(y0), s(x1), s(y1), s(r), s(r)
    }
    BEGIN {
      printf "stroke none\n"
      cx = (bx0 + bx1) / 2; cy = (by0 + by1) / 2
      # Pins first, tucked under the body; the outer one-pixel-ish band is darker so they read
      # as separate leads even on a light background.
      first = cy - (n - 1) * pp / 2
      inset = (pl > 3) ? 1 : 0.75
      for (i = 0; i < n; i++) {
        py0 = first + i * pp - ph / 2; py1 = py0 + ph
        pr = (ph >= 4) ? 1 : 0.4
        rect(bx0 - pl, py0, bx0 + 2, py1, pr, pinEdge)
        rect(bx1 - 2, py0, bx1 + pl, py1, pr, pinEdge)
        if (ph > 2) {
          rect(bx0 - pl + inset, py0 + inset, bx0 + 2, py1 - inset, pr, pinFill)
          rect(bx1 - 2, py0 + inset, bx1 + pl - inset, py1 - inset, pr, pinFill)
        } else {
          # Too thin for an edge: a mid grey that stands out on light and dark backgrounds alike.
          rect(bx0 - pl, py0, bx0 + 2, py1, pr, pinSmall)
          rect(bx1 - 2, py0, bx1 + pl, py1, pr, pinSmall)
        }
      }
      # Body: dark edge, then the face inset by the edge width.
      if (detail) {
        # Large sizes: the face shades from lighter at the top to darker at the bottom.
        printf "push defs\npush gradient \047face\047 linear 0,%g 0,%g\n", s(by0), s(by1)
        printf "stop-color \047%s\047 0\nstop-color \047%s\047 1\npop gradient\npop defs\n", bodyTop, bodyBottom
        rect(bx0, by0, bx1, by1, br, bodyEdge)
        # Its own graphic context: once set, a pattern fill would otherwise outlive later fills.
        printf "push graphic-context\n"
        rect(bx0 + bw, by0 + bw, bx1 - bw, by1 - bw, br - bw, "url(#face)")
        printf "pop graphic-context\n"
      } else if (bw > 0) {
        rect(bx0, by0, bx1, by1, br, bodyEdge)
        rect(bx0 + bw, by0 + bw, bx1 - bw, by1 - bw, br - bw, bodyFill)
      } else {
        rect(bx0, by0, bx1, by1, br, bodyFill)
      }
      if (detail) {
        # A thin lighter line just inside the edge gives the body a moulded look.
        printf "fill none\nstroke \047%s\047\nstroke-width %g\n", bodyBevel, s(1.5)
        printf "roundrectangle %g,%g %g,%g %g,%g\n", s(bx0 + bw + 1.5), s(by0 + bw + 1.5), \
            s(bx1 - bw - 1.5), s(by1 - bw - 1.5), s(br - bw - 1), s(br - bw - 1)
        printf "stroke none\n"
        # Pin-1 marker.
        dr = (bx1 - bx0) * 0.045
        printf "fill \047%s\047\ncircle %g,%g %g,%g\n", dotFill, s(bx0 + bw + 4 * dr), s(by0 + bw + 4 * dr), \
            s(bx0 + bw + 4 * dr + dr), s(by0 + bw + 4 * dr)
      }
      # Arrow: outline polygon, then the face inset by the outline width.
      ArrowPoly(0, aw > 0 ? arrowEdge : arrowFill)
      if (aw > 0) ArrowPoly(aw, arrowFill)
      if (detail) {
        # Highlight on the left half of the arrow, as if lit from the upper left.
        d = aw
        t = d * sqrt(hh * hh + (hy - ay) * (hy - ay)) / hh
        bx = hh * (hy - d - ay - t) / (hy - ay)
        printf "fill \047%s\047\npolygon %g,%g %g,%g %g,%g %g,%g %g,%g\n", arrowLight, \
            s(cx), s(ay + t), s(cx - bx), s(hy - d), s(cx - sh + d), s(hy - d), \
            s(cx - sh + d), s(sb - d), s(cx), s(sb - d)
      }
    }
    function ArrowPoly(d, fill,   t, bx) {
      # d insets every edge: the apex moves down the axis until it is d from both head edges, and
      # the head corners slide along the inset head edges to the inset base line.
      t = d * sqrt(hh * hh + (hy - ay) * (hy - ay)) / hh
      bx = hh * (hy - d - ay - t) / (hy - ay)
      printf "fill \047%s\047\npolygon %g,%g %g,%g %g,%g %g,%g %g,%g %g,%g %g,%g\n", fill, \
          s(cx), s(ay + t), \
          s(cx + bx), s(hy - d), s(cx + sh - d), s(hy - d), s(cx + sh - d), s(sb - d), \
          s(cx - sh + d), s(sb - d), s(cx - sh + d), s(hy - d), s(cx - bx), s(hy - d)
    }
  ' >"$mvg"

  # Large sizes also get a soft drop shadow, made from the frame's own alpha and laid behind it.
  local shadow=()
  if [ "$detail" = 1 ]; then
    local blur=$((size / 64)) drop=$((size / 64))
    shadow=('(' +clone -channel A -blur "0x$blur" -evaluate multiply 0.35 +channel
      -channel RGB -evaluate set 0 +channel -roll "+0+$drop" ')' -compose DstOver -composite)
  fi
  "$CONVERT" -size "$((size * ss))x$((size * ss))" xc:none -draw "$(cat "$mvg")" \
    -filter box -resize "${size}x${size}" "${shadow[@]}" \
    -depth 8 -define png:color-type=6 "$file"
}

#      size ss  body(x0 y0 x1 y1 r edge)   pins(n h len pitch)  arrow(apex base head shaft bottom edge) detail
Frame 256 4   52 44 204 212 14 4            5 16 26 32             66 136 52 22 186 4                      1 "$work/256.png"
Frame 128 8   26 22 102 106 7 2             4 10 13 18             33 68 26 11 93 2                        1 "$work/128.png"
Frame 48 16   10 8 38 40 3 1                3 5 6 9                12 26 11 5 34 1                         0 "$work/48.png"
Frame 32 16   6 4 26 28 2 1                 3 4 4 7                7 16 8 4 24 1                           0 "$work/32.png"
Frame 16 32   2 2 14 14 1.5 0               2 2 2 6                3 8 5 2 13 0                            0 "$work/16.png"

# Every PNG is written without its time stamps and text chunks, so the icon is the same bytes each
# time it is made.
for size in 256 128; do
  "$CONVERT" "$work/$size.png" -strip -define png:exclude-chunks=date,time -define png:compression-level=9 \
    -define png:color-type=6 "$work/$size-packed.png"
done
# The small sizes as ImageMagick writes them into an icon: 32-bit DIBs with an AND mask, which
# every Windows version reads and which LoadIcon picks for the window and taskbar sizes.
"$CONVERT" "$work/48.png" "$work/32.png" "$work/16.png" "$work/small.ico"

mkdir -p "$(dirname "$out")"
# Largest first, as Windows' own icons order them. The 256 and 128 px images go in as PNG (read
# since Windows Vista): as DIBs the 128 px image alone is 67 KB of the program's size, as PNG a
# few KB. The small ones stay DIBs, so drawing a window's icon never decodes a PNG.
python3 - "$work/256-packed.png" "$work/128-packed.png" "$work/small.ico" "$out" <<'PYTHON'
import struct
import sys

big = [open(name, "rb").read() for name in sys.argv[1:3]]
small = open(sys.argv[3], "rb").read()
_, kind, count = struct.unpack_from("<HHH", small, 0)
assert kind == 1 and count == 3, "ImageMagick wrote an unexpected icon"
entries = []  # (width, height, bits per pixel, data)
for data in big:
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
    width, height = struct.unpack_from(">II", data, 16)
    entries.append((width, height, 32, data))
for index in range(count):
    width, height, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", small, 6 + 16 * index)
    entries.append((width, height, bits, small[offset:offset + size]))

header = struct.pack("<HHH", 0, 1, len(entries))
offset = len(header) + 16 * len(entries)
directory, images = b"", b""
for width, height, bits, data in entries:
    # A directory entry says 0 for 256 pixels.
    directory += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, bits, len(data),
                             offset + len(images))
    images += data
with open(sys.argv[4], "wb") as icon:
    icon.write(header + directory + images)
PYTHON
echo "wrote $out"
