#!/usr/bin/env bash
# libvips's similarity (bicubic: it has no Lanczos interpolator) turning a 6000 x 4000
# three-band float image by 30 degrees, with one thread and with all of them, beside
# bench_geometry's figures. Usage: geometry_peers.sh WORKDIR
set -euo pipefail
work=${1:?usage: geometry_peers.sh WORKDIR}
command -v vips >/dev/null || { echo "vips is not installed"; exit 0; }
mkdir -p "$work"
vips gaussnoise "$work/n.v" 6000 4000 --mean 128 --sigma 30
vips bandjoin "$work/n.v $work/n.v $work/n.v" "$work/rgb.v"
all=$(nproc)
for threads in 1 "$all"; do
  start=$(date +%s.%N)
  VIPS_CONCURRENCY=$threads vips similarity "$work/rgb.v" "$work/out.v" --angle 30 \
    --interpolate bicubic
  end=$(date +%s.%N)
  awk -v t="$threads" -v a="$start" -v b="$end" \
    'BEGIN { printf "vips similarity 30 degrees, %s thread(s): %.0f ms\n", t, (b - a) * 1000 }'
done
rm -f "$work"/*.v
