# Sourced by the road benchmarks with their arguments (ZEP-RUN [WORK-DIR]): sets zep_run
# and work (absolute, so that the paths written into a script still hold after the cd),
# moves into the work folder and makes the 6000 x 4000 input picture once.
zep_run=$(realpath "$1")
work=${2:-$(mktemp -d)}
mkdir -p "$work/home"
work=$(realpath "$work")
cd "$work"

if [ ! -f in.png ]; then
  # A busy picture: plasma enlarged, with fine noise so that the encoder has work too.
  convert -size 1500x1000 -seed 3 plasma:green-purple -resize 6000x4000! \
    -attenuate 0.3 +noise Gaussian -depth 8 PNG24:in.png
fi
