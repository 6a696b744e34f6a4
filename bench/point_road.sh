#!/usr/bin/env bash
# Point operations timed file to file, one process each, on a 6000 x 4000 PNG: zep-run
# (open, Gamma 2 by F2, save) beside `convert -evaluate pow 2` and `vips gamma` (which
# raises to 1/exponent), and zep-run's Histogram Equalization beside `convert -equalize`,
# with the ratios of the times. All write PNG at zlib level 9, our settings' default. Each
# road runs with its default threads (ours: ZEP_THREADS or every hardware thread).
#   bench/point_road.sh ZEP-RUN [WORK-DIR]
set -euo pipefail
. "$(dirname "$0")/road_input.sh"
cat > gamma.zep <<ZEP
new
set autoQuery False
set conditional False
set gamma 2
open $work/in.png
command GammaAdjustment
f2
save $work/zep-gamma.png
quit
ZEP
cat > equalize.zep <<ZEP
new
set conditional False
open $work/in.png
command HistogramEqualization
save $work/zep-equalize.png
quit
ZEP

# Times one road and prints its seconds; a road that fails or writes nothing ends the
# benchmark.
road() {
  local out=$1 start end
  shift
  rm -f "$out"
  start=$(date +%s.%N)
  if ! "$@" >/dev/null; then
    echo "road failed: $*" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  [ -s "$out" ] || { echo "road failed: $* wrote no $out" >&2; exit 1; }
  echo "$end - $start" | bc -l
}

t_zep=$(road zep-gamma.png "$zep_run" --home "$work/home" gamma.zep)
t_im=$(road im-gamma.png convert in.png -evaluate pow 2 -define png:compression-level=9 \
  PNG24:im-gamma.png)
t_vips=$(road vips-gamma.png vips gamma in.png "vips-gamma.png[compression=9]" --exponent 0.5)
e_zep=$(road zep-equalize.png "$zep_run" --home "$work/home" equalize.zep)
e_im=$(road im-equalize.png convert in.png -equalize -define png:compression-level=9 \
  PNG24:im-equalize.png)

printf '%-40s %8.3f s\n' "zep-run (open, Gamma 2, save)" "$t_zep" \
  "convert -evaluate pow 2" "$t_im" "vips gamma --exponent 0.5" "$t_vips" \
  "zep-run (open, equalisation, save)" "$e_zep" "convert -equalize" "$e_im"
printf 'ratio zep-run / convert (gamma):    %6.2f\n' "$(echo "$t_zep / $t_im" | bc -l)"
printf 'ratio zep-run / vips (gamma):       %6.2f\n' "$(echo "$t_zep / $t_vips" | bc -l)"
printf 'ratio zep-run / convert (equalize): %6.2f\n' "$(echo "$e_zep / $e_im" | bc -l)"
