#!/usr/bin/env bash
# Regenerates the button pictures (resources/png), the application icons (resources/icons) and the preview sheet
# (docs/artwork-preview.png) from the SVG sources in resources/art. Builds never run this; its output is committed.
# Running it twice gives the same bytes: timestamps and other metadata are stripped from every PNG.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
art=$root/resources/art
png_dir=$root/resources/png
icon_dir=$root/resources/icons
preview=$root/docs/artwork-preview.png

# resource id, exact width, exact height of the button pictures and the logo
pictures=(
  "150 122 121" "151 139 138" "152 141 138" "153 124 120" "154 131 123"
  "155 141 128" "156 133 133" "157 133 133" "158 130 127" "129 256 256"
)
large_icon_sizes=(16 24 32 48 64 256)
small_icon_sizes=(16 20 24 32)

tile_colour='#2D2D30'
label_colour='#A1A1AA'

ensure_tools() {
  local missing=()
  command -v rsvg-convert >/dev/null || missing+=(librsvg2-bin)
  command -v icotool >/dev/null || missing+=(icoutils)
  { command -v convert >/dev/null && command -v identify >/dev/null; } || missing+=(imagemagick)
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  # A fresh machine may have empty package lists; refresh them only when the first try fails.
  $sudo apt-get install -y --no-install-recommends "${missing[@]}" ||
    { $sudo apt-get update && $sudo apt-get install -y --no-install-recommends "${missing[@]}"; }
}

# PNG32 forces 8-bit RGBA (colour type 6) even for a picture that happens to be opaque or grey.
write_png32() {  # write_png32 <input> <output>
  convert "$1" -strip -define png:exclude-chunks=date,time,tIME "PNG32:$2"
}

render() {  # render <svg> <width> <height> <output>
  local raw="$work/raw.png"
  rsvg-convert --width "$2" --height "$3" --keep-aspect-ratio "$1" --output "$raw"
  write_png32 "$raw" "$4"
  local size
  size=$(identify -format '%wx%h' "$4")
  if [ "$size" != "$2x$3" ]; then
    echo "make-artwork: $4 came out $size, expected $2x$3" >&2
    exit 1
  fi
}

svg_for() { ls "$art/$1"-*.svg; }

make_pictures() {
  local entry id w h
  for entry in "${pictures[@]}"; do
    read -r id w h <<<"$entry"
    render "$(svg_for "$id")" "$w" "$h" "$png_dir/$id.png"
  done
}

logo_png() {  # logo_png <size>: the 16 px grid drawing for the tiny sizes, the full logo for the rest
  local out="$work/logo-$1.png"
  if [ "$1" -le 16 ]; then
    render "$art/logo-16.svg" "$1" "$1" "$out"
  else
    render "$art/129-logo.svg" "$1" "$1" "$out"
  fi
  echo "$out"
}

make_icon() {  # make_icon <output.ico> <size>...
  local out=$1 size args=()
  shift
  for size in "$@"; do
    # The 256 px frame is stored as PNG, as Windows expects; the others as plain bitmaps with alpha.
    if [ "$size" -ge 256 ]; then args+=(--raw="$(logo_png "$size")"); else args+=("$(logo_png "$size")"); fi
  done
  icotool --create --output="$out" "${args[@]}"
}

# The preview copies what the window does: the picture fitted into a 36x36 box with bicubic filtering, centred on a
# 48x48 rounded dark tile, optionally faded to 30 %.
button_tile() {  # button_tile <png> <opacity> <output>
  convert \( -size 48x48 xc:none -fill "$tile_colour" -draw 'roundrectangle 0,0,47,47,10,10' \) \
    \( "$1" -filter Catrom -resize 36x36 -channel A -evaluate multiply "$2" +channel \) \
    -gravity center -composite "$3"
}

labelled() {  # labelled <picture> <zoom> <text> <output>: the picture with its caption underneath
  convert -background "$tile_colour" \( "$1" -scale "$(( $2 * 100 ))%" \) \
    \( -fill "$label_colour" -font DejaVu-Sans -pointsize 11 label:"$3" \) \
    -gravity center -append -bordercolor "$tile_colour" -border 8 "$4"
}

heading() {  # heading <text> <output>
  convert -background "$tile_colour" -fill '#D8D8DC' -font DejaVu-Sans-Bold -pointsize 13 label:"$1" \
    -bordercolor "$tile_colour" -border 8 "$2"
}

row() {  # row <output> <cell>...
  local out=$1
  shift
  convert -background "$tile_colour" "$@" -gravity south +append "$out"
}

make_preview() {
  local zoom id opacity name cells rows=()
  local buttons=("150 1" "151 1" "152 1" "153 1" "154 1" "155 1" "156 1" "157 1" "158 1" "151 0.3" "158 0.3")
  for entry in "${buttons[@]}"; do
    read -r id opacity <<<"$entry"
    button_tile "$png_dir/$id.png" "$opacity" "$work/tile-$id-$opacity.png"
  done

  for zoom in 1 3; do
    heading "Buttons at ${zoom}x" "$work/head-$zoom.png"
    rows+=("$work/head-$zoom.png")
    cells=()
    local count=0 part=0
    for entry in "${buttons[@]}"; do
      read -r id opacity <<<"$entry"
      name=$id
      [ "$opacity" != 1 ] && name="$id @30%"
      labelled "$work/tile-$id-$opacity.png" "$zoom" "$name" "$work/cell-$zoom-$id-$opacity.png"
      cells+=("$work/cell-$zoom-$id-$opacity.png")
      count=$((count + 1))
      # Wrap the zoomed row so the sheet stays a comfortable width.
      if [ "$zoom" -eq 3 ] && [ $((count % 6)) -eq 0 ]; then
        row "$work/row-$zoom-$part.png" "${cells[@]}"
        rows+=("$work/row-$zoom-$part.png")
        cells=()
        part=$((part + 1))
      fi
    done
    if [ ${#cells[@]} -gt 0 ]; then
      row "$work/row-$zoom-$part.png" "${cells[@]}"
      rows+=("$work/row-$zoom-$part.png")
    fi
  done

  # The application icons as stored in the .ico files, at 1x and 3x.
  heading "Application icons (zentrovia.ico, zentrovia-small.ico) at 1x and 3x" "$work/head-icons.png"
  rows+=("$work/head-icons.png")
  mkdir -p "$work/ico-large" "$work/ico-small"
  icotool --extract --output="$work/ico-large" "$icon_dir/zentrovia.ico"
  icotool --extract --output="$work/ico-small" "$icon_dir/zentrovia-small.ico"
  cells=()
  for zoom in 1 3; do
    local size frame
    for size in 16 32 48; do
      frame=$(ls "$work"/ico-large/*_"${size}x${size}x32.png")
      labelled "$frame" "$zoom" "107: $size" "$work/icon-$zoom-$size.png"
      cells+=("$work/icon-$zoom-$size.png")
    done
    for size in 16 20; do
      frame=$(ls "$work"/ico-small/*_"${size}x${size}x32.png")
      labelled "$frame" "$zoom" "108: $size" "$work/icon-small-$zoom-$size.png"
      cells+=("$work/icon-small-$zoom-$size.png")
    done
  done
  row "$work/row-icons.png" "${cells[@]}"
  rows+=("$work/row-icons.png")

  convert -background "$tile_colour" "${rows[@]}" -gravity west -append -bordercolor "$tile_colour" -border 8 \
    "$work/preview.png"
  write_png32 "$work/preview.png" "$preview"
}

main() {
  ensure_tools
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$png_dir" "$icon_dir" "$(dirname "$preview")"
  make_pictures
  make_icon "$icon_dir/zentrovia.ico" "${large_icon_sizes[@]}"
  make_icon "$icon_dir/zentrovia-small.ico" "${small_icon_sizes[@]}"
  make_preview
  echo "make-artwork: wrote $png_dir, $icon_dir and $preview"
}

main "$@"
