#!/usr/bin/env python3
"""Bjontegaard delta rate of a test encoder against an anchor, from (kbit/s, PSNR dB) points.

    bdrate.py ANCHOR_POINTS TEST_POINTS      each "kbps:psnr,kbps:psnr,..."

Prints the average bit rate difference in percent at equal luma PSNR over the PSNR range both curves cover
(negative: the test encoder needs fewer bits). log10(rate) is interpolated as a function of PSNR by
piecewise cubic Hermite polynomials (the monotone variant used in current codec evaluations, which works with
three points per curve, unlike a single cubic through four) and integrated numerically.
"""
import math
import sys


def parse(text):
    points = sorted((float(p), math.log10(float(r))) for r, p in (pair.split(":") for pair in text.split(",")))
    curve = []
    for psnr, log_rate in points:  # equal PSNRs (rate-capped or saturated points) would make the fit singular
        if curve and psnr - curve[-1][0] < 1e-3:
            continue
        curve.append((psnr, log_rate))
    return curve


def pchip(curve):
    xs = [p for p, _ in curve]
    ys = [r for _, r in curve]
    n = len(xs)
    h = [xs[i + 1] - xs[i] for i in range(n - 1)]
    delta = [(ys[i + 1] - ys[i]) / h[i] for i in range(n - 1)]
    slopes = [0.0] * n
    if n == 2:
        slopes = [delta[0], delta[0]]
    else:
        for i in range(1, n - 1):
            if delta[i - 1] * delta[i] > 0:
                w1, w2 = 2 * h[i] + h[i - 1], h[i] + 2 * h[i - 1]
                slopes[i] = (w1 + w2) / (w1 / delta[i - 1] + w2 / delta[i])
        for end, d0, d1, h0, h1 in ((0, delta[0], delta[1], h[0], h[1]), (n - 1, delta[-1], delta[-2], h[-1], h[-2])):
            s = ((2 * h0 + h1) * d0 - h0 * d1) / (h0 + h1)
            if s * d0 <= 0:
                s = 0.0
            elif d0 * d1 <= 0 and abs(s) > abs(3 * d0):
                s = 3 * d0
            slopes[end] = s

    def value(x):
        i = max(0, min(n - 2, next((k for k in range(n - 1) if x <= xs[k + 1]), n - 2)))
        t = (x - xs[i]) / h[i]
        return ((2 * t**3 - 3 * t**2 + 1) * ys[i] + (t**3 - 2 * t**2 + t) * h[i] * slopes[i]
                + (-2 * t**3 + 3 * t**2) * ys[i + 1] + (t**3 - t**2) * h[i] * slopes[i + 1])

    return value


def bd_rate(anchor, test):
    a, t = parse(anchor), parse(test)
    if len(a) < 2 or len(t) < 2:
        return None
    low, high = max(a[0][0], t[0][0]), min(a[-1][0], t[-1][0])
    if high <= low:
        return None
    fa, ft = pchip(a), pchip(t)
    steps = 1000
    diff = sum(ft(low + (high - low) * (k + 0.5) / steps) - fa(low + (high - low) * (k + 0.5) / steps)
               for k in range(steps)) / steps
    return (10**diff - 1) * 100


if __name__ == "__main__":
    result = bd_rate(sys.argv[1], sys.argv[2])
    print("n/a" if result is None else f"{result:+.1f}%")
