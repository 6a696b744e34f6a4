#!/usr/bin/env bash
# The whole resize road timed file to file, one process each: zep-run (open a 6000 x 4000
# PNG, Lanczos-3 to 50%, save a PNG) beside `vips resize` and ImageMagick's
# `convert -resize 50%` doing the same job, with the ratios of the times.
#   bench/resize_road.sh ZEP-RUN [WORK-DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zep_run=$(realpath "$1")
work=${2:-$(mktemp -d)}
mkdir -p "$work/home"
cd "$work"

# The road needs zep-run's open and save statements.
printf 'new\nopen %s/none.png\n' "$work" > probe.zep
probe=$("$zep_run" --home "$work/home" probe.zep 2>&1 || true)
if grep -q "unknown statement open" <<<"$probe"; then
  echo "resize road: skipped, zep-run cannot open files yet"
  exit 0
fi

if [ ! -f in.png ]; then
  # A busy picture: plasma enlarged, with fine noise so that the encoder has work too.
  convert -size 1500x1000 -seed 3 plasma:green-purple -resize 6000x4000! \
    -attenuate 0.3 +noise Gaussian -depth 8 PNG24:in.png
fi

# The same script as the end-to-end test.
sed -e "s|@IN@|$work/in.png|" -e "s|@OUT@|$work/zep.png|" \
  "$here/../tests/ops/resize/lanczos_half.zep.in" > half.zep

seconds() {
  local start end
  start=$(date +%s.%N)
  if ! "$@" >/dev/null; then
    echo "failed: $*" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

t_zep=$(seconds "$zep_run" --home "$work/home" half.zep) || exit 1
t_vips=$(seconds vips resize in.png vips.png 0.5 --kernel lanczos3) || exit 1
t_im=$(seconds convert in.png -filter Lanczos -resize 50% PNG24:magick.png) || exit 1

printf '%-34s %8.3f s\n' "zep-run (open, Lanczos 50%, save)" "$t_zep" \
  "vips resize 0.5 lanczos3" "$t_vips" "convert -filter Lanczos -resize 50%" "$t_im"
printf 'ratio zep-run / vips:    %6.2f\n' "$(echo "$t_zep / $t_vips" | bc -l)"
printf 'ratio zep-run / convert: %6.2f\n' "$(echo "$t_zep / $t_im" | bc -l)"
