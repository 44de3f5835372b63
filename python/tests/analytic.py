"""Analytic axially symmetric fields that satisfy Maxwell's equations, written as Poisson-style
tables and converted by the built converter, for the tests of the companion."""

import math
import os
import subprocess
from dataclasses import dataclass
from typing import Callable

import numpy as np


def bessel(order, x, sign):
    """I_order(x) for sign +1, J_order(x) for sign -1, by their power series (|x| < 4 here)."""
    total = np.zeros_like(np.asarray(x, dtype=float))
    for m in range(30):
        total = total + sign ** m * (x / 2) ** (2 * m + order) / (math.factorial(m) * math.factorial(m + order))
    return total


@dataclass
class Field:
    """A field (radial, axial)(r, z) in table units, with what its conversion needs."""

    name: str
    iflag_EH: int
    parity: int  # mirror mode that fits: 1 axial odd in z, 2 radial odd in z
    components: Callable
    r_max: float
    half_length: float
    r_intervals: int
    z_intervals: int
    aper: float
    d_elm: float
    scale: float = 1.0


def _lens(r, z, k=math.pi / 4, v0=10.0):
    return -v0 * k * bessel(1, k * r, 1) * np.cos(k * z), v0 * k * bessel(0, k * r, 1) * np.sin(k * z)


def _pillbox(r, z, e0=2.5, kr=2.405 / 2.5):
    return 0.0 * r * z, e0 * bessel(0, kr * r, -1) + 0.0 * z


def _solenoid(r, z, k=math.pi / 6, b0=5000.0):
    return b0 * bessel(1, k * r, 1) * np.sin(k * z), b0 * bessel(0, k * r, 1) * np.cos(k * z)


def _cusp(r, z, k=math.pi / 5, b0=0.8):
    return -b0 * bessel(1, k * r, 1) * np.cos(k * z), b0 * bessel(0, k * r, 1) * np.sin(k * z)


def _from_axis(derivative, terms):
    """(radial, axial)(r, z) of the field whose on-axis profile has the derivatives
    derivative(m, z), by the series of an axially symmetric vacuum field up to r^(2 terms)."""
    def components(r, z):
        radial = np.zeros(np.broadcast(r, z).shape)
        axial = np.zeros_like(radial)
        for n in range(terms):
            c = (r / 2) ** (2 * n) / math.factorial(n) ** 2
            axial = axial + (-1) ** n * c * derivative(2 * n, z)
            radial = radial + (-1) ** (n + 1) * c * (r / 2) / (n + 1) * derivative(2 * n + 1, z)
        return radial, axial
    return components


def gaussian_derivative(m, z, sigma, centre=0.0):
    """d^m/dz^m exp(-(z - centre)^2 / (2 sigma^2)), by Hermite polynomials."""
    u = (z - centre) / (sigma * math.sqrt(2))
    return (-1 / (sigma * math.sqrt(2))) ** m * np.polynomial.hermite.hermval(u, [0] * m + [1]) * np.exp(-u * u)


GAUSS_B0, GAUSS_SIGMA = 0.5, 1.0
_gaussian = _from_axis(lambda m, z: GAUSS_B0 * gaussian_derivative(m, z, GAUSS_SIGMA), 8)
# Two short electrostatic lenses side by side: the field's curvature grows fast towards the
# corners of the grid.
_two_lenses = _from_axis(lambda m, z: 800.0 * (gaussian_derivative(m, z, 0.5, -1.5) + gaussian_derivative(m, z, 0.5, 1.5)), 22)


# The grids stay inside the tables (corners at sqrt(2) aper < r_max) and end where they end or where
# the field has died out (d_elm / 2 <= half_length): nothing of the field is cut off.
FIELDS = {
    "lens": Field("electrostatic lens", 0, 1, _lens, 2.0, 4.0, 24, 96, 1.3, 8.0, 1000.0),
    "pillbox": Field("pillbox TM010 amplitude", 0, 2, _pillbox, 2.5, 1.5, 10, 6, 1.7, 3.0, 1.0e6),
    "solenoid": Field("solenoid-like B", 1, 2, _solenoid, 1.5, 6.0, 12, 96, 1.0, 12.0, 1.0e-4),
    "cusp": Field("cusp B", 1, 1, _cusp, 1.2, 5.0, 12, 80, 0.8, 10.0),
    "gaussian": Field("Gaussian solenoid B", 1, 2, _gaussian, 0.8, 6.0, 16, 240, 0.5, 10.0),
    "two_lenses": Field("two short lenses E", 0, 2, _two_lenses, 0.9, 4.5, 18, 360, 0.6, 8.0),
}


def write_table(path, field, half=0):
    """Write the table of `field`: the whole length (half = 0), the half z >= 0 (1) or z <= 0 (-1).

    The whole table is placed away from z = 0, as a solver run would place it.
    """
    length = field.half_length
    if half == 0:
        zmin, zmax, origin, intervals = 10.0, 10.0 + 2 * length, 10.0 + length, field.z_intervals
    else:
        zmin, zmax = (0.0, length) if half > 0 else (-3.0 - length, -3.0)
        origin, intervals = (0.0 if half > 0 else -3.0), field.z_intervals // 2
    r = np.linspace(0.0, field.r_max, field.r_intervals + 1)
    z = np.linspace(zmin, zmax, intervals + 1)
    rr, zz = np.meshgrid(r, z)  # rows in blocks of one z, r fastest
    radial, axial = field.components(rr, zz - origin)
    rows = np.column_stack([rr.ravel(), zz.ravel(), np.ravel(radial), np.ravel(axial)])
    with open(path, "w") as out:
        out.write(f"Poisson-style table: {field.name}\n")
        out.write(f"{'(Rmin,Zmin) :':15}{0.0:24.17g}  {zmin:24.17g}\n")
        out.write(f"{'(Rmax,Zmax) :':15}{field.r_max:24.17g}  {zmax:24.17g}\n")
        out.write(f"{'Intervals (r,z) :':22}{field.r_intervals}  {intervals}\n\n   R  Z  Fr  Fz\n\n")
        np.savetxt(out, rows, fmt="%24.17g")


def write_control(folder, field, kmirror_z=0, kform_3D=0, ksym=(0, 0, 0), aper=None, d_elm=None):
    scale_e, scale_b = (field.scale, 1.0) if field.iflag_EH == 0 else (1.0, field.scale)
    lines = ["control written by the companion's tests", "", "table.txt", f"{field.iflag_EH} iflag_EH",
             f"{kmirror_z} kmirror_z", "1 kfile_num", f"{kform_3D} kform_3D", " ".join(map(str, ksym)),
             repr(field.d_elm if d_elm is None else d_elm), repr(field.aper if aper is None else aper),
             repr(scale_e), repr(scale_b)]
    with open(os.path.join(folder, "poisson_to_kavro.dat"), "w") as out:
        out.write("\n".join(lines) + "\n")


def convert(folder, field, half=0, kmirror_z=0, **control):
    """Write table and control file into `folder`, run the converter there, return the output path."""
    os.makedirs(folder, exist_ok=True)
    write_table(os.path.join(folder, "table.txt"), field, half)
    write_control(folder, field, kmirror_z, **control)
    run = subprocess.run([os.environ["P2K_CONVERTER"]], cwd=folder, capture_output=True, text=True)
    assert run.returncode == 0 and not run.stderr, run.stderr
    return os.path.join(folder, "eh_EMS.#01")
