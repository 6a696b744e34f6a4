"""Decodes RGB PNG files with decoders we did not write, and writes each file's samples as
stored (top row first, 16-bit samples big-endian) to FILE.samples, after a first line
"depth width height". 8-bit files go through Pillow, 16-bit ones through the pure png
module, since Pillow narrows 16-bit colour to 8 bits."""
import sys

import numpy
import png
from PIL import Image

for path in sys.argv[1:]:
    with open(path, "rb") as f:
        depth = f.read(25)[24]  # the bit depth of IHDR
    if depth == 8:
        with Image.open(path) as im:
            width, height = im.size
            samples = numpy.asarray(im.convert("RGB"), dtype=numpy.uint8).tobytes()
    else:
        width, height, rows, info = png.Reader(filename=path).read()
        samples = b"".join(numpy.asarray(r, dtype=">u2").tobytes() for r in rows)
    with open(path + ".samples", "wb") as out:
        out.write(b"%d %d %d\n" % (depth, width, height))
        out.write(samples)
