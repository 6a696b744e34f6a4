"""Makes and reads FITS and TIFF files with astropy and tifffile, implementations we did not
write, so that our readers meet other programs' files and our writers are read by them.

  make-fits DIR   FITS files of every BITPIX, a table-only file and 2-axis files
  make-tiff DIR   TIFF files of the layouts other programs write
  dump FILE...    one line per file: the samples as the library reads them

Every file made is listed in DIR/index.txt, one line per file: name, width, height, then the
samples in the file's own order (planes R, G, B of the FITS data, or R G B per pixel from
the top row of a TIFF)."""
import subprocess
import sys
import numpy as np

W, H = 4, 2


def pattern(full, signed):
    """Samples from 0 (or -full) up to full, the full-scale sample first."""
    k = np.arange(3 * H * W, dtype=np.float64).reshape(3, H, W)
    low = -full if signed else 0.0
    v = low + (full - low) * k / (k.size - 1)
    v.flat[0] = full
    return v


def write_index(folder, rows):
    with open(folder + "/index.txt", "w") as out:
        for name, data in rows:
            flat = " ".join(repr(float(x)) for x in np.asarray(data).ravel())
            out.write("%s %d %d %s\n" % (name, W, H, flat))


def make_fits(folder):
    from astropy.io import fits
    cases = [  # name, numpy type, full scale, signed
        ("b8.fits", np.uint8, 255, False),
        ("s16.fits", np.int16, 32767, True),
        ("u16.fits", np.uint16, 65535, False),
        ("s32.fits", np.int32, 214783647, True),
        ("u32.fits", np.uint32, 4294967295, False),
        ("s64.fits", np.int64, 255, True),
        ("f32.fits", np.float32, 1000.0, True),
        ("f64.fits", np.float64, 1000.0, True),
    ]
    rows = []
    for name, dtype, full, signed in cases:
        data = np.round(pattern(full, signed)).astype(dtype) if dtype not in (
            np.float32, np.float64) else pattern(full, signed).astype(dtype)
        fits.PrimaryHDU(data=data).writeto(folder + "/" + name, overwrite=True)
        rows.append((name, data))
    # A compressed copy, as other programs write them.
    data = np.round(pattern(65535, False)).astype(np.uint16)
    fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(data=data, compression_type="RICE_1")]
                 ).writeto(folder + "/u16rice.fits", overwrite=True)
    rows.append(("u16rice.fits", data))
    write_index(folder, rows)
    table = fits.BinTableHDU.from_columns([fits.Column(name="a", format="E", array=[1.0, 2.0])])
    fits.HDUList([fits.PrimaryHDU(), table]).writeto(folder + "/table.fits", overwrite=True)
    grey = np.arange(W * H, dtype=np.int16).reshape(H, W)
    fits.PrimaryHDU(data=grey).writeto(folder + "/grey.fits", overwrite=True)
    fits.HDUList([fits.PrimaryHDU(), fits.CompImageHDU(data=grey, compression_type="GZIP_1")]
                 ).writeto(folder + "/greyz.fits", overwrite=True)


def make_tiff(folder):
    import tifffile
    rgb16 = np.round(pattern(65535, False)).astype(np.uint16).reshape(H, W, 3)
    rgbf = pattern(1000.0, True).astype(np.float32).reshape(H, W, 3)
    rgba16 = np.zeros((H, W, 4), np.uint16)
    cases = [  # name, data, tifffile options
        ("rgb16.tif", rgb16, {}),
        ("rgb16be.tif", rgb16, {"byteorder": ">"}),
        ("rgbf.tif", rgbf, {}),
        ("rgbfzip.tif", rgbf, {"compression": "zlib"}),
        ("tiled16.tif", rgb16, {"tile": (16, 16)}),
        ("planar16.tif", np.ascontiguousarray(rgb16.transpose(2, 0, 1)),
         {"planarconfig": "separate", "photometric": "rgb"}),
        ("planarf.tif", np.ascontiguousarray(rgbf.transpose(2, 0, 1)),
         {"planarconfig": "separate", "photometric": "rgb", "compression": "zlib"}),
        ("rgba16.tif", rgba16, {"photometric": "rgb", "extrasamples": [2]}),
        ("int32.tif", rgb16.astype(np.int32), {"photometric": "rgb"}),
        ("rgb8.tif", (rgb16 >> 8).astype(np.uint8), {}),
        ("grey16.tif", rgb16[:, :, 0].copy(), {}),
    ]
    rows = []
    for name, data, options in cases:
        options.setdefault("photometric", "rgb" if data.ndim == 3 else "minisblack")
        tifffile.imwrite(folder + "/" + name, data, **options)
        # The index lists samples pixel by pixel, also for files of separate planes.
        separate = options.get("planarconfig") == "separate"
        rows.append((name, data.transpose(1, 2, 0) if separate else data))
    # tifffile writes LZW only with a codec package Debian lacks; libtiff's copier does it.
    subprocess.run(["tiffcp", "-c", "lzw:2", "-r", "1", folder + "/rgb16.tif",
                    folder + "/rgb16lzw.tif"], check=True)
    rows.append(("rgb16lzw.tif", rgb16))
    write_index(folder, rows)


def dump(paths):
    for path in paths:
        if path.endswith(".tif"):
            import tifffile
            data = tifffile.imread(path)
            kind = str(data.dtype)
        else:
            from astropy.io import fits
            with fits.open(path) as hdus:
                hdu = next(h for h in hdus if h.is_image and h.data is not None)
                kind = "%d" % hdu.header["ZBITPIX" if "ZBITPIX" in hdu.header else "BITPIX"]
                data = hdu.data
        print(path, kind, " ".join(repr(float(x)) for x in np.asarray(data).ravel()))


if __name__ == "__main__":
    {"make-fits": lambda: make_fits(sys.argv[2]), "make-tiff": lambda: make_tiff(sys.argv[2]),
     "dump": lambda: dump(sys.argv[2:])}[sys.argv[1]]()
