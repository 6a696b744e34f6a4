#!/usr/bin/env bash
# The whole resize road timed file to file, one process each: zep-run (open a 6000 x 4000
# PNG, Lanczos-3 to 50%, save a PNG) beside `vips resize` and ImageMagick's
# `convert -resize 50%` doing the same job, with the ratios of the times and the peak
# memory of each. The peers write their PNG at zlib level 9, the level of our settings'
# default "Compression Level" that the script's zep-run writes with. Each road runs with
# its default threads (ours: ZEP_THREADS or every hardware thread).
#   bench/resize_road.sh ZEP-RUN [WORK-DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/road_input.sh"

# The same script as the end-to-end test.
sed -e "s|@IN@|$work/in.png|" -e "s|@OUT@|$work/zep.png|" \
  "$here/../tests/ops/resize/lanczos_half.zep.in" > half.zep

level=9

# Times one road and prints "seconds peak-kbytes"; a road that fails or leaves no output
# file ends the benchmark, since timing a run that did nothing would print a meaningless
# ratio.
road() {
  local out=$1 start end
  shift
  rm -f "$out" peak.txt
  start=$(date +%s.%N)
  if ! /usr/bin/time -f %M -o peak.txt "$@" >/dev/null; then
    echo "resize road failed: $*" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  if [ ! -s "$out" ]; then
    echo "resize road failed: $* wrote no $out" >&2
    exit 1
  fi
  echo "$(echo "$end - $start" | bc -l) $(tail -n 1 peak.txt)"
}

read -r t_zep m_zep < <(road zep.png "$zep_run" --home "$work/home" half.zep || echo fail)
read -r t_vips m_vips < <(road vips.png vips resize in.png "vips.png[compression=$level]" 0.5 \
  --kernel lanczos3 || echo fail)
read -r t_im m_im < <(road magick.png convert in.png -filter Lanczos -resize 50% \
  -define png:compression-level=$level PNG24:magick.png || echo fail)
for t in "$t_zep" "$t_vips" "$t_im"; do
  [ "$t" != fail ] || exit 1
done

printf '%-44s %8.3f s %8.0f MB peak\n' \
  "zep-run (open, Lanczos 50%, save)" "$t_zep" "$(echo "$m_zep / 1024" | bc -l)" \
  "vips resize 0.5 lanczos3" "$t_vips" "$(echo "$m_vips / 1024" | bc -l)" \
  "convert -filter Lanczos -resize 50%" "$t_im" "$(echo "$m_im / 1024" | bc -l)"
printf 'ratio zep-run / vips:    %6.2f\n' "$(echo "$t_zep / $t_vips" | bc -l)"
printf 'ratio zep-run / convert: %6.2f\n' "$(echo "$t_zep / $t_im" | bc -l)"
