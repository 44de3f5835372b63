"""The control file of a conversion and the 2D map it makes of its Poisson table.

The companion reads them to tell where the output grid leaves the map and what the map holds on
its axis; it rebuilds the map as the converter does (centred in z, mirrored on request, scaled).
"""

import os
import re
from dataclasses import dataclass

import numpy as np

from .errors import FieldFileError
from .textscan import Sizes, TextScan, read_bytes

CONTROL_NAME = "poisson_to_kavro.dat"
# Bounds on what is read: a control file is twelve short lines, remarks included; a table holds at
# most 200 x 1000 rows (the converter's map), rows of 256 characters being generous, and its header.
CONTROL_SIZES = Sizes(((0, 1 << 20),), "a control file has at most 1 MiB")
TABLE_BYTES = 200 * 1000 * 256 + (1 << 20)
TABLE_SIZES = Sizes(((0, TABLE_BYTES),), f"a table of at most 200 x 1000 rows has at most {TABLE_BYTES:,} bytes")
# Exponent letters D and Q read as E; commas separate values like blanks.
_FORTRAN_NUMBERS = bytes.maketrans(b"DdQq,", b"EeEe ")
_INTEGER = re.compile(r"[+-]?\d+$")


@dataclass
class Control:
    """Values of a control file; `poisson_file` is resolved against the control file's folder."""

    path: str
    poisson_file: str
    iflag_EH: int
    kmirror_z: int
    kfile_num: int
    kform_3D: int
    ksym: tuple
    d_elm: float
    aper: float
    scale_E: float
    scale_B: float


@dataclass
class FieldMap:
    """The prepared 2D map: radial and axial component at nodes (ir, iz), from 0."""

    path: str
    r_node: np.ndarray
    z_node: np.ndarray
    radial: np.ndarray
    axial: np.ndarray


class _ListInput:
    """List-directed reads from the lines of a small text: each read starts on a fresh line,
    may continue on the following ones, and skips the rest of the line it ends on."""

    def __init__(self, path, lines, first_line=1):
        self.path = path
        self.lines = lines
        self.next_line = 0
        self.first_line = first_line

    def skip(self):
        self._line()

    def whole_line(self, width):
        return self._line()[1][:width]

    def read(self, kinds):
        values = [0] * len(kinds)
        filled = 0
        while filled < len(kinds):
            number, text = self._line()
            for item in re.split(r"[ \t]*,[ \t]*|[ \t]+", text.strip(" \t")):
                if item.startswith("/"):
                    return values
                if not item:
                    continue
                count, _, item = item.rpartition("*") if "*" in item else ("1", "", item)
                for _ in range(int(count) if count.isdigit() else 1):
                    values[filled] = self._convert(number, item, kinds[filled])
                    filled += 1
                    if filled == len(kinds):
                        return values
        return values

    def _line(self):
        if self.next_line >= len(self.lines):
            raise FieldFileError(self.path, f"line {self.next_line + self.first_line}: the file ends"
                                            " before the values it should hold")
        text = self.lines[self.next_line]
        self.next_line += 1
        return self.next_line + self.first_line - 1, text

    def _convert(self, line, item, kind):
        text = item.translate(str.maketrans("DdQq", "EeEe"))
        try:
            value = float(text)
        except ValueError:
            raise FieldFileError(self.path, f"line {line}: {item!r} is not a number") from None
        if kind is int:
            return int(text) if _INTEGER.match(text) else int(value)
        return value


def _text_lines(path):
    return read_bytes(path, CONTROL_SIZES).decode("latin-1").replace("\r\n", "\n").split("\n")


def read_control(path):
    """Read a control file.

    Parameters
    ----------
    path : str
        The control file, or a folder holding one under its usual name.

    Returns
    -------
    Control
    """
    path = str(path)
    if os.path.isdir(path):
        path = os.path.join(path, CONTROL_NAME)
    reader = _ListInput(path, _text_lines(path))
    reader.skip()
    reader.skip()
    table = reader.whole_line(80).strip()
    iflag, kmirror, kfile, kform = (reader.read([int])[0] for _ in range(4))
    ksym = tuple(reader.read([int, int, int]))
    d_elm, aper, scale_e, scale_b = (reader.read([float])[0] for _ in range(4))
    if not table:
        raise FieldFileError(path, "line 3: no table file name")
    table = os.path.join(os.path.dirname(os.path.abspath(path)), table)
    return Control(path, table, iflag, kmirror, kfile, kform, ksym, d_elm, aper, scale_e, scale_b)


def _header(path, lines):
    """Limits, interval counts and the line where the rows begin."""
    for start, line in enumerate(lines):
        if "Zmin" in line[:100]:
            break
    else:
        raise FieldFileError(path, "no header line holding \"Zmin\"")
    if start + 6 > len(lines):
        raise FieldFileError(path, f"line {len(lines)}: the file ends inside the header")

    def field(offset, column, kinds):
        return _ListInput(path, [lines[start + offset][column:100]], start + offset + 1).read(kinds)

    rmin, zmin = field(0, 15, [float, float])
    rmax, zmax = field(1, 15, [float, float])
    r_intervals, z_intervals = field(2, 22, [int, int])
    return rmin, zmin, rmax, zmax, r_intervals + 1, z_intervals + 1, start + 6


def _rows(path, lines, first_line, count):
    """Third and fourth value of `count` rows of four values, each starting on a fresh line."""
    body = [line.translate(_FORTRAN_NUMBERS) for line in lines[first_line:first_line + count]]
    scan = TextScan(b"\n".join(body), first_line + 1)
    if len(body) == count and np.all(scan.values_per_line == 4):
        return scan.numbers(path).reshape(count, 4)[:, 2:4]
    # Rows spread over lines or with remarks after them: read them one by one.
    rest = [line.translate(_FORTRAN_NUMBERS).decode("latin-1") for line in lines[first_line:]]
    reader = _ListInput(path, rest, first_line + 1)
    return np.array([reader.read([float] * 4)[2:] for _ in range(count)]).reshape(count, 2)


def read_map(control):
    """Build the 2D map of the table that a control file names, as the converter prepares it.

    Parameters
    ----------
    control : Control

    Returns
    -------
    FieldMap
    """
    path = control.poisson_file
    lines = [line.rstrip(b"\r") for line in read_bytes(path, TABLE_SIZES).split(b"\n")]
    rmin, zmin, rmax, zmax, nr, nz, first_row = _header(path, [line.decode("latin-1") for line in lines])
    if nr < 3 or nz < 3 or not rmax > rmin or not zmax > zmin:
        raise FieldFileError(path, f"a map of {nr} x {nz} nodes over r {rmin} .. {rmax},"
                                   f" z {zmin} .. {zmax} cannot be sampled")
    rows = _rows(path, lines, first_row, nr * nz)
    scale = control.scale_B if control.iflag_EH == 1 else control.scale_E
    radial, axial = (rows[:, c].reshape(nz, nr).T * scale for c in (0, 1))
    if zmin != -zmax:
        zmax = (zmax - zmin) / 2
        zmin = -zmax
    mode = control.kmirror_z
    if mode in (1, -1, 2, -2):
        odd_radial = abs(mode) == 2
        radial, axial = (_mirror(f, mode > 0, odd) for f, odd in ((radial, odd_radial), (axial, not odd_radial)))
        nz = 2 * nz - 1
        zmin, zmax = 2 * zmin, 2 * zmax
    r_node = np.arange(nr, dtype=np.float64) * ((rmax - rmin) / (nr - 1)) + rmin
    z_node = np.arange(nz, dtype=np.float64) * ((zmax - zmin) / (nz - 1)) + zmin
    return FieldMap(path, r_node, z_node, radial, axial)


def _mirror(values, table_is_upper_half, negate):
    """Full map from a half map; the mirror-plane row keeps the table's values."""
    image = -values if negate else values.copy()
    if table_is_upper_half:
        return np.concatenate((image[:, :0:-1], values), axis=1)
    return np.concatenate((values, image[:, -2::-1]), axis=1)
