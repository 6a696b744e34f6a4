"""The picture of the print test and the check of its printed page.

  printed_page.py picture FILE.png
      writes a 40 x 20 picture: top left red, top right green, bottom left blue, bottom
      right black.
  printed_page.py check PAGE.png DPI PAPER_W PAPER_H LEFT TOP RIGHT BOTTOM
      PAGE.png is the printed sheet rendered by poppler at DPI; the paper and its margins
      are in thousandths of an inch. The picture must fill the width between the margins
      at its aspect ratio, from the top margin down (the page centres only horizontally by
      default), right way up."""
import sys

from PIL import Image


def near(c, rgb):
    return all(abs(a - b) < 60 for a, b in zip(c, rgb))


if sys.argv[1] == "picture":
    im = Image.new("RGB", (40, 20))
    for y in range(20):
        for x in range(40):
            top, left = y < 10, x < 20
            im.putpixel((x, y), (255, 0, 0) if top and left else (0, 255, 0) if top else
                        (0, 0, 255) if left else (0, 0, 0))
    im.save(sys.argv[2])
    sys.exit(0)

page = Image.open(sys.argv[2]).convert("RGB")
dpi = int(sys.argv[3])
paper_w, paper_h, left, top, right, bottom = (int(v) for v in sys.argv[4:10])
errors = []
size = (round(paper_w * dpi / 1000), round(paper_h * dpi / 1000))
if page.size != size:
    errors.append("sheet %s, expected %s" % (page.size, size))
ink = [(x, y) for y in range(page.height) for x in range(page.width)
       if not near(page.getpixel((x, y)), (255, 255, 255))]
if not ink:
    sys.exit("nothing printed")
x0, x1 = min(p[0] for p in ink), max(p[0] for p in ink)
y0, y1 = min(p[1] for p in ink), max(p[1] for p in ink)
width = (paper_w - left - right) * dpi / 1000
expected = (left * dpi / 1000, top * dpi / 1000, width, width / 2)
found = (x0, y0, x1 - x0 + 1, y1 - y0 + 1)
if any(abs(f - e) > 2 for f, e in zip(found, expected)):
    errors.append("picture at %s, expected %s" % (found, expected))
w, h = found[2], found[3]
for fx, fy, rgb in ((0.25, 0.25, (255, 0, 0)), (0.75, 0.25, (0, 255, 0)),
                    (0.25, 0.75, (0, 0, 255)), (0.75, 0.75, (0, 0, 0))):
    c = page.getpixel((int(x0 + fx * w), int(y0 + fy * h)))
    if not near(c, rgb):
        errors.append("at %.2f, %.2f: %s, expected %s" % (fx, fy, c, rgb))
if errors:
    sys.exit("; ".join(errors))
