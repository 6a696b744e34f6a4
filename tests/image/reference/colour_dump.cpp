// Reads "r g b" lines and prints each colour's HSV and HSL, for comparison with an
// independent implementation.
#include <cstdio>

#include "image/pixel.h"

int main() {
  float r, g, b;
  while (std::scanf("%f %f %f", &r, &g, &b) == 3) {
    const fpixel hsv = fpixel::rgbtohsv({r, g, b});
    const fpixel hsl = fpixel::rgbtohsl({r, g, b});
    std::printf("%.9g %.9g %.9g %.9g %.9g %.9g\n", hsv.x, hsv.y, hsv.z, hsl.x, hsl.y, hsl.z);
  }
  return 0;
}
