"""Dumps the pixels of PNG files as Pillow decodes them, an implementation we did not write.

Each file gives one line: name, kind, width, height, then R G B per pixel from the top row.
kind is "grey16" when the samples are exact 16-bit grey values, "8" otherwise (Pillow hands
16-bit colour files over as their high bytes)."""
import sys
from PIL import Image

out = open(sys.argv[1], "w")
for path in sys.argv[2:]:
    im = Image.open(path)
    name = path.rsplit("/", 1)[-1]
    if im.mode in ("I", "I;16", "I;16B"):
        kind, px = "grey16", [(v, v, v) for v in im.getdata()]
    else:
        kind, px = "8", list(im.convert("RGB").getdata())
    out.write("%s %s %d %d %s\n" % (name, kind, im.width, im.height,
                                    " ".join("%d %d %d" % p for p in px)))
