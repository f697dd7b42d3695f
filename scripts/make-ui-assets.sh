#!/usr/bin/env bash
# Regenerates the window's committed assets under desktop/qml (fonts, icons, pictures,
# sound) from pinned open npm packages and our own drawing. Needs npm, ImageMagick 6
# (convert) and sox; the build itself does not, since the outputs are committed.
# Usage: scripts/make-ui-assets.sh   (run from anywhere; overwrites the assets in place)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
qml="$root/desktop/qml"
fonts="$qml/fonts" icons="$qml/icons" sounds="$qml/sounds"
mkdir -p "$fonts" "$icons" "$sounds"

VAZIRMATN=33.0.3
LUCIDE=1.87.0
SIMPLE_ICONS=16.37.0
FLAG_ICONS=7.5.0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fetch PACKAGE VERSION: unpacks the registry tarball into $work/PACKAGE
fetch() {
  (cd "$work" && npm pack --silent "$1@$2" >/dev/null)
  mkdir "$work/$1"
  tar xzf "$work/$1-$2.tgz" -C "$work/$1" --strip-components=1
}
fetch vazirmatn "$VAZIRMATN"
fetch lucide-static "$LUCIDE"
fetch simple-icons "$SIMPLE_ICONS"
fetch flag-icons "$FLAG_ICONS"

# --- Fonts: Vazirmatn in the four weights the design's body and title families use.
for weight in Regular Medium SemiBold Bold; do
  cp "$work/vazirmatn/fonts/ttf/Vazirmatn-$weight.ttf" "$fonts/"
done
cp "$work/vazirmatn/OFL.txt" "$fonts/OFL.txt"

# --- UI glyphs (lucide): QtSvg paints currentColor black, so the theme's text colour is
# written in place.
ui_glyph() { # ui_glyph OUR_NAME LUCIDE_NAME
  sed 's/currentColor/#eeeeee/g' "$work/lucide-static/icons/$2.svg" >"$icons/$1.svg"
}
ui_glyph bolt zap
ui_glyph close x
ui_glyph copy copy
ui_glyph eye eye
ui_glyph eye-off eye-off
ui_glyph gamepad gamepad-2
ui_glyph globe globe
ui_glyph info info
ui_glyph logout log-out
ui_glyph maximize square
ui_glyph minimize minus
ui_glyph network network
ui_glyph plug plug
ui_glyph refresh refresh-cw
ui_glyph settings settings
ui_glyph shield shield
ui_glyph sort arrow-up-down
ui_glyph wifi wifi
cp "$work/lucide-static/LICENSE" "$icons/LICENSE-lucide.txt"

# --- Brand marks (simple-icons): the paths carry no fill, which QtSvg draws black.
brand_mark() { # brand_mark OUR_NAME SIMPLE_ICONS_NAME
  sed 's/<svg /<svg fill="#ffffff" /' "$work/simple-icons/icons/$2.svg" >"$icons/$1.svg"
}
brand_mark discord discord
brand_mark telegram telegram
brand_mark instagram instagram
brand_mark twitter x
cp "$work/simple-icons/LICENSE.md" "$icons/LICENSE-simple-icons.txt"

# --- Flags (flag-icons, 4:3), used as they are.
cp "$work/flag-icons/flags/4x3/gb.svg" "$icons/flag-gb.svg"
cp "$work/flag-icons/flags/4x3/ir.svg" "$icons/flag-ir.svg"
cp "$work/flag-icons/LICENSE" "$icons/LICENSE-flag-icons.txt"

if grep -l currentColor "$icons"/*.svg; then
  echo "make-ui-assets: an icon still uses currentColor" >&2
  exit 1
fi

# --- Pictures: our own drawing. PNG time chunks are left out so reruns give the same bytes.
png_out=(-depth 8 -strip -define png:exclude-chunks=date,time -define png:compression-level=9)
title_font="$fonts/Vazirmatn-Bold.ttf"
label_font="$fonts/Vazirmatn-Medium.ttf"

# Window icon: the logo.svg drawing (rounded gradient square, open ring, dot) at 256 px,
# drawn with ImageMagick primitives (this ImageMagick reads no SVG) and scaled into an .ico.
convert -size 256x256 xc:none \
  \( -size 224x224 -define gradient:angle=135 gradient:'#7c5cff-#2fd1c5' \
     \( -size 224x224 xc:none -fill white -draw "roundrectangle 0,0 223,223 56,56" \) \
     -compose CopyOpacity -composite \) -geometry +16+16 -compose Over -composite \
  -fill none -stroke white -strokewidth 24 -draw "stroke-linecap round path 'M168 88a56 56 0 1 0 0 80'" \
  -stroke none -fill white -draw "circle 176,128 176,144" \
  "${png_out[@]}" "$work/logo-256.png"
convert "$work/logo-256.png" -define icon:auto-resize=256,64,48,32,16 "$icons/logo.ico"

# Game pictures, 840 x 420: abstract artwork of our own with the game's short name in
# Vazirmatn; the game page desaturates and darkens them until hovered.
game_picture() { # game_picture OUT TITLE SUBTITLE GRADIENT DRAWING...
  local out=$1 title=$2 subtitle=$3 gradient=$4
  shift 4
  convert -size 840x420 -define gradient:angle=115 "gradient:$gradient" "$@" \
    -stroke none -fill 'rgba(0,0,0,0.35)' -draw "rectangle 0,300 840,420" \
    -font "$title_font" -pointsize 84 -fill white -annotate +44+378 "$title" \
    -font "$label_font" -pointsize 22 -fill 'rgba(255,255,255,0.75)' -annotate +48+276 "$subtitle" \
    "${png_out[@]}" "$out"
}

game_picture "$icons/game-cs2.png" "CS2" "TACTICAL 5v5" '#141a24-#c2601c' \
  -fill none -stroke 'rgba(255,255,255,0.07)' -strokewidth 40 \
  -draw "line 180,460 660,-40" -draw "line 300,460 780,-40" -draw "line 420,460 900,-40" \
  -stroke 'rgba(255,255,255,0.85)' -strokewidth 6 \
  -draw "circle 630,170 630,80" -draw "circle 630,170 630,168" \
  -draw "line 630,50 630,120" -draw "line 630,220 630,290" \
  -draw "line 510,170 580,170" -draw "line 680,170 750,170"

game_picture "$icons/game-dota2.png" "DOTA 2" "THREE LANES, FIVE HEROES" '#2a0608-#b3261e' \
  -fill 'rgba(0,0,0,0.25)' -stroke 'rgba(255,255,255,0.25)' -strokewidth 4 \
  -draw "polygon 630,20 800,170 630,320 460,170" \
  -fill none -stroke 'rgba(255,220,180,0.8)' -strokewidth 8 \
  -draw "line 545,245 715,95" -draw "polyline 545,245 545,110 700,110" -draw "polyline 560,245 715,245 715,110" \
  -stroke none -fill '#7cf07a' -draw "circle 545,245 545,229" \
  -fill '#ff5a4a' -draw "circle 715,95 715,79"

game_picture "$icons/game-deadlock.png" "DEADLOCK" "HEROES, LANES, GUNS" '#0b2024-#2c7a78' \
  -fill none -stroke 'rgba(230,196,120,0.85)' -strokewidth 5 \
  -draw "circle 640,420 640,150" -draw "circle 640,420 640,200" -draw "circle 640,420 640,250" \
  -stroke 'rgba(230,196,120,0.45)' -strokewidth 3 \
  -draw "line 640,20 640,150" -draw "line 560,40 580,155" -draw "line 720,40 700,155" \
  -draw "line 480,80 525,175" -draw "line 800,80 755,175"

# --- Notification sound: a soft two-note chime (A5 then E6), mono 16-bit 44.1 kHz.
# -R keeps sox's dither and headers deterministic.
sox -R -n -r 44100 -b 16 -c 1 "$work/low.wav" synth 0.55 sine 880 fade q 0.005 0.55 0.5 gain -9
sox -R -n -r 44100 -b 16 -c 1 "$work/high.wav" synth 0.6 sine 1318.51 fade q 0.005 0.6 0.55 gain -9 pad 0.14
sox -R -m "$work/low.wav" "$work/high.wav" -b 16 "$sounds/notification.wav" trim 0 0.74 fade q 0 0.74 0.05 gain -n -6

echo "make-ui-assets: done"
