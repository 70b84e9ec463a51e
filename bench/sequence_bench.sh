#!/bin/bash
# The vantorel tool on a sequence, beside the floor of oiiotool converting
# the same frames with the same threads: both read and write every frame
# through OpenImageIO, so the floor is the file work alone, and the ratio
# shows what the tool adds (the render with every aid on, the conversions
# to and from the plug-in's frames, flushing every file to the disk and
# reading its header back). The tool is timed again with --verify, which
# also decodes every file it wrote and compares its pixels.
#
#   bench/sequence_bench.sh [BUILD [FRAMES [WIDTHxHEIGHT [JOBS]]]]
#
# Defaults: build, 48 frames of 3840x2160 half EXR (zip), as many jobs as
# cores. RUNS (default 3) timed runs of each, in turn, after one untimed
# run of each; the medians are printed as a Markdown table row. Needs
# oiiotool (Debian package openimageio-tools); the frames are made in a
# temporary folder in BUILD (about 35 MB each at 3840x2160) and removed.
set -euo pipefail

build=${1:-build}
frames=${2:-48}
size=${3:-3840x2160}
jobs=${4:-$(nproc)}
runs=${RUNS:-3}
tool="$build/tools/vantorel/vantorel"

if ! command -v oiiotool >/dev/null; then
  echo "sequence_bench: needs oiiotool (apt-get install openimageio-tools)" >&2
  exit 1
fi
[ -x "$tool" ] || { echo "sequence_bench: build $tool first" >&2; exit 1; }

work=$(mktemp -d "$build/sequence-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A colour ramp with a little noise, so that compression has real work.
oiiotool --pattern fill:topleft=0,0,0,1:topright=1,0.5,0,1:bottomleft=0,0.3,1,1:bottomright=1,1,1,1 "$size" 4 \
  --pattern noise:type=gaussian:stddev=0.02 "$size" 4 --add \
  -d half --compression zip -o "$work/in.0001.exr"
for ((f = 2; f <= frames; f++)); do
  cp "$work/in.0001.exr" "$(printf '%s/in.%04d.exr' "$work" "$f")"
done

aids=()
for name in LegalizeLevels FalseColorMode ShowSkinTonePatches ShowSkinToneLine \
  ShowMiddleGray GuideThirds GuideGolden GuideCrosshair Crop185 Crop235 Crop239; do
  aids+=(--set "$name=on")
done

floor() {
  oiiotool --threads "$jobs" --frames "1-$frames" "$work/in.%04d.exr" \
    -o "$work/floor.%04d.exr"
}
render() {
  "$tool" render "$work/in.%04d.exr" "$work/out.%04d.exr" \
    --frames "1-$frames" --jobs "$jobs" "${aids[@]}" \
    --bundle "$build/QvoVantorel.ofx.bundle" "$@" 2>/dev/null
}
verify() { render --verify; }

# Milliseconds per frame of one run of $1.
time_per_frame() {
  local start end
  start=$(date +%s%N)
  "$1" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000 / frames))
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

steps=(floor render verify)
for step in "${steps[@]}"; do "$step" >/dev/null; done
declare -A times
for ((r = 0; r < runs; r++)); do
  for step in "${steps[@]}"; do
    times[$step]+=" $(time_per_frame "$step")"
  done
done

f=$(median ${times[floor]})
t=$(median ${times[render]})
v=$(median ${times[verify]})
ratio() { awk -v t="$1" -v f="$f" 'BEGIN {printf "%.2f", t / f}'; }
echo "| Frames | Size | Jobs | oiiotool ms/frame | vantorel ms/frame | vantorel / oiiotool | with --verify ms/frame | with --verify / oiiotool |"
echo "|---:|---|---:|---:|---:|---:|---:|---:|"
echo "| $frames | $size half EXR | $jobs | $f | $t | $(ratio "$t") | $v | $(ratio "$v") |"
echo "runs (ms/frame): oiiotool${times[floor]}; vantorel${times[render]}; with --verify${times[verify]}"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
