#!/usr/bin/env python3
"""Prints the tables and polynomials of the power loop in src/numeric/pointops.cpp, with
the bound of each polynomial's error, from exact arithmetic (python3-mpmath)."""
import struct

import mpmath
from mpmath import mpf

mpmath.mp.prec = 200
LN2 = mpmath.log(2)


def bits(d):
    return struct.unpack('<Q', struct.pack('<d', d))[0]


def chebyshev(f, a, b, degree):
    """Monomial coefficients of the polynomial interpolating f at Chebyshev nodes of [a, b]."""
    nodes = [(a + b) / 2 + (b - a) / 2 * mpmath.cos(mpmath.pi * (2 * i + 1) / (2 * degree + 2))
             for i in range(degree + 1)]
    m = mpmath.matrix([[x**j for j in range(degree + 1)] for x in nodes])
    c = mpmath.lu_solve(m, mpmath.matrix([f(x) for x in nodes]))
    return [float(c[j]) for j in range(degree + 1)]


def worst(error, a, b, samples=20000):
    return float(mpmath.log(max(abs(error(a + (b - a) * i / samples))
                                for i in range(samples + 1)), 2))


def show(name, values):
    print(f'{name}:', ', '.join(float.hex(v) for v in values))


# log2: pieces [1 + i/16, 1 + (i + 1)/16) of the mantissa; reciprocals of their centres
# rounded to 29 significant bits, so that m times one is exact for a float's m.
inverse, low, high = [], mpf(0), mpf(0)
for i in range(16):
    a, b = 1 + mpf(i) / 16, 1 + mpf(i + 1) / 16
    centre = (1 / a + 1 / b) / 2
    e = mpmath.floor(mpmath.log(centre, 2))
    inverse.append(float(mpmath.nint(centre * 2**(28 - e)) / 2**(28 - e)))
    low, high = min(low, a * mpf(inverse[-1]) - 1), max(high, b * mpf(inverse[-1]) - 1)
show('kInverseCentre', inverse)
show('kLog2Centre', [float(-mpmath.log(mpf(v), 2)) for v in inverse])
low, high = low * mpf('1.0001'), high * mpf('1.0001')
q = chebyshev(lambda r: mpmath.log(1 + r) / LN2 / r if r else 1 / LN2, low, high, 5)
show('kLog2Poly', q)
print(f'  r in [{float(low):.4f}, {float(high):.4f}], log2(1 + r) within 2^%.1f' % worst(
    lambda r: r * sum(mpf(c) * r**j for j, c in enumerate(q)) - mpmath.log(1 + r) / LN2,
    low, high))

# 2^y: steps 2^(j/16), and 2^f = 1 + f e(f) for |f| <= 1/32.
print('kExp2Table:', ', '.join(hex(bits(float(mpf(2)**(mpf(j) / 16)))) for j in range(16)))
e = chebyshev(lambda f: (mpf(2)**f - 1) / f if f else LN2, mpf(-1) / 32, mpf(1) / 32, 3)
show('kExp2Poly', e)
print('  2^f within 2^%.1f relatively' % worst(
    lambda f: (1 + f * sum(mpf(c) * f**j for j, c in enumerate(e))) / mpf(2)**f - 1,
    mpf(-1) / 32, mpf(1) / 32))
