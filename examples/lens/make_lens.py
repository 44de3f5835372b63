#!/usr/bin/env python3
"""Writes lens.txt, the bundled example's field table: an electrostatic einzel lens.

    /usr/bin/python3 examples/lens/make_lens.py [OUT]      (default: lens.txt beside this script)

Three coaxial tube electrodes of inner radius B: the outer two grounded, the middle one (length
2 MIDDLE_HALF) at V0, with gaps of GAP between them. The wall potential runs smoothly across each
gap (a tanh step of width GAP / 2), and the field inside the tubes is the exact solution of
Laplace's equation for that wall potential:

    V(r, z) = sum_k c_k I0(k r) / I0(k B) cos(k z),   E = -grad V,

with c_k the cosine series of the wall potential over a period long enough (PERIOD) that its
images do not reach the table. The table covers the bore out to R_MAX < B, where the series
converges fast. Away from the gaps the axial field falls as exp(-2.405 |z| / B) (2.405 the first
zero of J0), so the element's ends (d_elm in poisson_to_kavro.dat) are put where it has dropped
below 1 % of its peak. Deterministic: no random numbers, the sums in a fixed order.
"""
import os
import sys

import numpy as np

B = 2.5              # electrode inner radius, cm
MIDDLE_HALF = 1.5    # half length of the middle electrode, cm
GAP = 0.5            # gap between electrodes, cm
V0 = 1000.0          # middle electrode potential, V
R_MAX, Z_MAX = 2.0, 20.0     # table limits, cm (r from 0, z from 0; the lens centred at Z_MAX / 2)
R_INTERVALS, Z_INTERVALS = 50, 200
PERIOD, SAMPLES = 128.0, 4096    # the wall potential's period and samples for its cosine series
K_MAX = 60.0         # the terms above it change no digit of the table: I0(k r) / I0(k B) < 1e-13
QUADRATURE = 512     # nodes of the periodic trapezoid rule for I0, I1


def wall_potential(z):
    """The electrodes' potential at the wall: V0 on the middle tube, 0 on the outer ones."""
    edge = MIDDLE_HALF + GAP / 2
    width = GAP / 2
    return V0 / 2 * (np.tanh((z + edge) / width) - np.tanh((z - edge) / width))


def bessel_i(order, x):
    """I_order(x) = (1/pi) int_0^pi exp(x cos t) cos(order t) dt, by the trapezoid rule, which is
    exact to rounding for this periodic integrand once the nodes outnumber x."""
    t = (np.arange(QUADRATURE) + 0.5) * (np.pi / QUADRATURE)
    return np.exp(np.multiply.outer(x, np.cos(t))) @ np.cos(order * t) / QUADRATURE


def field(r, z):
    """(Er, Ez) in V/cm on the grid of the node vectors r, z (cm, lens centred on z = 0), each
    of shape (z.size, r.size)."""
    zs = (np.arange(SAMPLES) - SAMPLES // 2) * (PERIOD / SAMPLES)
    spectrum = np.fft.rfft(np.fft.ifftshift(wall_potential(zs))).real / SAMPLES
    k = 2 * np.pi / PERIOD * np.arange(spectrum.size)
    keep = (k > 0.0) & (k <= K_MAX)
    c, k = 2 * spectrum[keep], k[keep]   # the k = 0 term is a constant potential: no field
    scale = c * k / bessel_i(0, k * B)
    radial = np.multiply.outer(k, r)
    kz = np.multiply.outer(z, k)
    er = -np.cos(kz) @ (scale[:, None] * bessel_i(1, radial))
    er[:, r == 0.0] = 0.0   # I1(0) = 0: the quadrature leaves rounding there
    return er, np.sin(kz) @ (scale[:, None] * bessel_i(0, radial))


def write(path):
    r = np.linspace(0.0, R_MAX, R_INTERVALS + 1)
    z = np.linspace(0.0, Z_MAX, Z_INTERVALS + 1)
    rr, zz = np.meshgrid(r, z)   # one block of rows per z, r fastest
    er, ez = field(r, z - Z_MAX / 2)
    with open(path, "w") as out:
        out.write(" Electrostatic einzel lens, uniform mesh\n")
        out.write(f" Problem title: einzel lens, tubes of radius {B:g} cm, middle at {V0:g} V\n")
        out.write(f"  (Rmin,Zmin):{0.0:13.5f} ,{0.0:13.5f} cm\n")
        out.write(f"  (Rmax,Zmax):{R_MAX:13.5f} ,{Z_MAX:13.5f} cm\n")
        out.write(f" Number of intervals:{R_INTERVALS:7d}{Z_INTERVALS:6d}\n\n")
        out.write("      R(cm)          Z(cm)          Er(V/cm)        Ez(V/cm)\n\n")
        rows = np.column_stack([rr.ravel(), zz.ravel(), er.ravel(), ez.ravel()])
        np.savetxt(out, rows, fmt="%14.7E %14.7E %15.8E %15.8E")


if __name__ == "__main__":
    write(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "lens.txt"))
