#!/usr/bin/env python3
"""Writes a Poisson field table of a smooth electrostatic lens field.

    gen_table.py FILE NR NZ ZMAX

NR x NZ nodes over r = 0 .. 2 and z = 0 .. ZMAX, one row per node (r fastest), in the layout of
the solver's tables: a title, the header lines A, B and C, three separator lines, then the rows.
"""
import sys


def main():
    path, nr, nz, zmax = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    rmax = 2.0
    out = [
        " Electrostatic lens, uniform mesh\n",
        " Problem title: benchmark table\n",
        f"  (Rmin,Zmin):      0.00000 ,  {0.0:11.5f} cm\n",
        f"  (Rmax,Zmax):  {rmax:11.5f} ,  {zmax:11.5f} cm\n",
        f" Number of intervals:  {nr - 1:5d}  {nz - 1:5d}\n",
        "\n",
        "      R(cm)          Z(cm)          Er(V/cm)        Ez(V/cm)\n",
        "\n",
    ]
    dr = rmax / (nr - 1)
    dz = zmax / (nz - 1)
    for iz in range(nz):
        z = iz * dz
        u = (z - zmax / 2) / (zmax / 4)
        # A rational lens profile: only correctly rounded arithmetic, so the table is the same
        # bytes on every machine (no libm function is called).
        w = 1 / (1 + u * u)
        profile = w * w * (1 - 0.25 * u)
        slope = (-4 * u * w * w * w * (1 - 0.25 * u) - 0.25 * w * w) / (zmax / 4)
        ez = -314.159265 * profile
        dez = -314.159265 * slope
        for ir in range(nr):
            r = ir * dr
            er = -0.5 * r * dez
            out.append(f" {r:.7E}  {z:.7E} {er: .8E} {ez * (1 - 0.05 * r * r): .8E}\n")
    with open(path, "w") as f:
        f.writelines(out)


if __name__ == "__main__":
    main()
