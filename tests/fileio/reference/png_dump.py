"""Dumps the pixels of PNG files as Python's pure png module decodes them, an
implementation we did not write.

Each file gives one line: name, bit depth (8 or 16), width, height, then R G B per pixel
from the top row, as the file stores them: palettes looked up, grey repeated, alpha
dropped, grey of 1, 2 or 4 bits widened to 8 bits by bit replication as PNG defines it.
sBIT is not applied, since a decoder reports the samples as stored."""
import sys

import png

out = open(sys.argv[1], "w")
for path in sys.argv[2:]:
    reader = png.Reader(filename=path)
    width, height, rows, info = reader.read()
    depth = info["bitdepth"]
    planes = info["planes"]
    palette = reader.palette() if reader.color_type == 3 else None
    px = []
    for row in rows:
        row = list(row)
        for i in range(width):
            if palette:
                px.append(palette[row[i]][:3])
                continue
            v = row[i * planes:(i + 1) * planes]
            rgb = v[:3] if info["greyscale"] is False else [v[0]] * 3
            if depth < 8:
                rgb = [s * 255 // ((1 << depth) - 1) for s in rgb]
            px.append(rgb)
    out_depth = 16 if depth == 16 else 8
    out.write("%s %d %d %d %s\n" % (path.rsplit("/", 1)[-1], out_depth, width, height,
                                    " ".join("%d %d %d" % tuple(p) for p in px)))
