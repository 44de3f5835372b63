#!/usr/bin/env python3
"""Writes solenoid.txt, the magnetic example's field table: a finite solenoid, the half z >= 0.

    /usr/bin/python3 examples/solenoid/make_solenoid.py [OUT]      (default: solenoid.txt beside this script)

A thin current sheet of radius A and length 2 HALF_LENGTH, centred on z = 0 (a long, closely
wound coil), with its surface current chosen so that the field at the centre is B_CENTRE. Its
field is exact everywhere inside the bore, in closed form with the generalised complete elliptic
integral C(kc, p, c, s) (Derby and Olbert, Am. J. Phys. 78 (2010) 229):

    z+- = z +- HALF_LENGTH,  h+- = sqrt(z+-^2 + (r + A)^2),  kc+-^2 = (z+-^2 + (A - r)^2) / h+-^2,
    gamma = (A - r) / (A + r),  B0 = mu0 n I / pi,
    Br = B0 (A / h+ C(kc+, 1, 1, -1) - A / h- C(kc-, 1, 1, -1)),
    Bz = B0 A / (A + r) (z+ / h+ C(kc+, gamma^2, 1, gamma) - z- / h- C(kc-, gamma^2, 1, gamma)),

which on the axis is the textbook Bz(0, z) = mu0 n I / 2 (z+ / sqrt(z+^2 + A^2) - z- / sqrt(z-^2 + A^2)).
Bz is even in z and Br odd, so the table holds z >= 0 only and the converter mirrors it with
kmirror_z 2 (the axial component copied, the radial one negated). The on-axis field falls as
1 / z^3 beyond the ends; at z = 12 cm, the element's end (d_elm 24 in poisson_to_kavro.dat), it
is below 2 % of its peak. C is evaluated by Bulirsch's iteration with square roots and the four
basic operations only, so the table is the same bytes on every machine.
"""
import os
import sys

import numpy as np

A = 2.0               # radius of the current sheet, cm
HALF_LENGTH = 5.0     # half length of the coil, cm
B_CENTRE = 1000.0     # field at the centre, G
R_MAX, Z_MAX = 1.5, 15.0     # table limits, cm (r from 0, z from the coil's middle plane)
R_INTERVALS, Z_INTERVALS = 30, 150
# mu0 n I, G: the on-axis formula at z = 0 gives mu0 n I HALF_LENGTH / sqrt(HALF_LENGTH^2 + A^2).
SHEET = B_CENTRE * np.sqrt(HALF_LENGTH * HALF_LENGTH + A * A) / HALF_LENGTH
TOLERANCE = 1e-8      # the mean converges quadratically: the step after this agreement leaves ~1e-17
MAX_STEPS = 40


def cel(kc, p, c, s):
    """The generalised complete elliptic integral
    C(kc, p, c, s) = int_0^(pi/2) (c cos^2 t + s sin^2 t) / ((cos^2 t + p sin^2 t) sqrt(cos^2 t + kc^2 sin^2 t)) dt
    for arrays kc > 0 and p > 0: Bulirsch's algorithm, each element stepped until its own
    arithmetic-geometric mean has converged, as the scalar algorithm does."""
    kc, p, c, s = np.broadcast_arrays(*(np.asarray(v, dtype=float) for v in (kc, p, c, s)))
    k = np.abs(kc)
    pp = np.sqrt(p)
    ss = s / pp
    f = c
    cc = c + ss / pp
    g = k / pp
    ss = 2.0 * (ss + f * g)
    pp = g + pp
    g = np.ones_like(k)
    em = k + g
    kk = k
    for _ in range(MAX_STEPS):
        going = np.abs(g - k) > g * TOLERANCE
        if not going.any():
            break
        k = np.where(going, 2.0 * np.sqrt(kk), k)
        kk = np.where(going, k * em, kk)
        f = cc
        cc = np.where(going, cc + ss / pp, cc)
        g = np.where(going, kk / pp, g)
        ss = np.where(going, 2.0 * (ss + f * g), ss)
        pp = np.where(going, g + pp, pp)
        g = np.where(going, em, g)
        em = np.where(going, k + em, em)
    else:
        raise ArithmeticError("the elliptic integral did not converge")
    return (np.pi / 2) * (ss + cc * em) / (em * (em + pp))


def field(r, z):
    """(Br, Bz) in G at the points of the arrays r, z (cm, coil centred on z = 0, r < A)."""
    gamma = (A - r) / (A + r)
    br = np.zeros(np.broadcast(r, z).shape)
    bz = np.zeros_like(br)
    for end, sign in ((z + HALF_LENGTH, 1.0), (z - HALF_LENGTH, -1.0)):
        h = np.sqrt(end * end + (r + A) * (r + A))
        kc = np.sqrt(end * end + (A - r) * (A - r)) / h
        br = br + sign * (A / h) * cel(kc, 1.0, 1.0, -1.0)
        bz = bz + sign * (end / h) * cel(kc, gamma * gamma, 1.0, gamma)
    b0 = SHEET / np.pi
    # On the axis Br is 0: the two ends' terms leave their rounding there.
    return np.where(r == 0.0, 0.0, b0 * br), b0 * A / (A + r) * bz


def write(path):
    r = np.linspace(0.0, R_MAX, R_INTERVALS + 1)
    z = np.linspace(0.0, Z_MAX, Z_INTERVALS + 1)
    rr, zz = np.meshgrid(r, z)   # one block of rows per z, r fastest
    br, bz = field(rr, zz)
    with open(path, "w") as out:
        out.write(" Solenoid, current sheet, uniform mesh, half z >= 0\n")
        out.write(f" Problem title: solenoid, radius {A:g} cm, length {2 * HALF_LENGTH:g} cm,"
                  f" {B_CENTRE:g} G at the centre\n")
        out.write(f"  (Rmin,Zmin):{0.0:13.5f} ,{0.0:13.5f} cm\n")
        out.write(f"  (Rmax,Zmax):{R_MAX:13.5f} ,{Z_MAX:13.5f} cm\n")
        out.write(f" Number of intervals:{R_INTERVALS:7d}{Z_INTERVALS:6d}\n\n")
        out.write("      R(cm)          Z(cm)          Br(G)           Bz(G)\n\n")
        rows = np.column_stack([rr.ravel(), zz.ravel(), br.ravel(), bz.ravel()])
        np.savetxt(out, rows, fmt="%14.7E %14.7E %15.8E %15.8E")


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "solenoid.txt"))
