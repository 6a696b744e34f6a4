"""Makes the FITS files of fuzz/regressions/fits whose compressed tiles are damaged: a
32 x 32 x 3 image of 16-bit samples, compressed by astropy (RICE_1 in row tiles, and
HCOMPRESS_1), with one bit of its first tile flipped. Read in-process, CFITSIO 4.2 reads past
a buffer on the first (fits_rdecomp_short) and writes megabytes past one on the second
(fits_hdecompress).

  damaged_tiles.py DIR   writes DIR/rice-tile-flipped-bit.fits and
                         DIR/hcompress-tile-flipped-bit.fits"""
import re
import sys
import numpy as np
from astropy.io import fits

H, W = 32, 32
CASES = [  # file, algorithm, byte of the heap, bit
    ("rice-tile-flipped-bit.fits", "RICE_1", 2, 3),
    ("hcompress-tile-flipped-bit.fits", "HCOMPRESS_1", 3, 0),
]


def heap_start(data):
    """Where the heap of the table in the second header starts."""
    end = data.find(b"END     ", 2880)
    header = data[2880:end].decode()
    row = int(re.search(r"NAXIS1  =\s*(\d+)", header).group(1))
    rows = int(re.search(r"NAXIS2  =\s*(\d+)", header).group(1))
    return (end // 2880 + 1) * 2880 + row * rows


def main(folder):
    y, x = np.mgrid[0:H, 0:W]
    image = np.stack([(x * 37 + y * 11 + 7 * c) % 1000 for c in range(3)]).astype(np.int16)
    for name, algorithm, byte, bit in CASES:
        extra = {"tile_shape": (1, H, W)} if algorithm == "HCOMPRESS_1" else {}
        path = folder + "/" + name
        fits.HDUList([fits.PrimaryHDU(),
                      fits.CompImageHDU(data=image, compression_type=algorithm, **extra)]
                     ).writeto(path, overwrite=True)
        data = bytearray(open(path, "rb").read())
        at = heap_start(data) + byte
        data[at] ^= 1 << bit
        open(path, "wb").write(data)
        print("%s: bit %d of byte %d flipped" % (name, bit, at))


if __name__ == "__main__":
    main(sys.argv[1])
