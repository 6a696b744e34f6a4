"""HSV and HSL of random colours against Python's colorsys, an implementation we did not write."""
import colorsys
import random
import subprocess
import sys

random.seed(11)
colours = [(random.uniform(0, 255), random.uniform(0, 255), random.uniform(0, 255)) for _ in range(4000)]
colours += [(0, 0, 255), (255, 0, 0), (40, 200, 200), (255, 255, 254)]
text = "".join("%.6f %.6f %.6f\n" % c for c in colours)
out = subprocess.run([sys.argv[1]], input=text, capture_output=True, text=True, check=True).stdout.split("\n")

def hue_gap(a, b):
    d = abs(a - b) % 360.0
    return min(d, 360.0 - d)

worst = 0.0
for (r, g, b), line in zip(colours, out):
    r, g, b = float("%.6f" % r), float("%.6f" % g), float("%.6f" % b)
    hv, sv, vv, hl, sl, ll = map(float, line.split())
    h, s, v = colorsys.rgb_to_hsv(r / 255, g / 255, b / 255)
    h2, l2, s2 = colorsys.rgb_to_hls(r / 255, g / 255, b / 255)
    errors = [hue_gap(hv, h * 360), abs(sv - s), abs(vv - v * 255),
              hue_gap(hl, h2 * 360), abs(sl - s2), abs(ll - l2 * 255)]
    worst = max(worst, max(errors))
    if max(errors) > 1e-3:
        print("differs at", (r, g, b), "ours", line, "colorsys", (h * 360, s, v * 255), (h2 * 360, s2, l2 * 255))
        sys.exit(1)
print("worst difference %.3g over %d colours" % (worst, len(colours)))
