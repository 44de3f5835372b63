"""Reading the converter's field files in their three layouts, recognised by their content."""

from dataclasses import dataclass
from typing import Optional

import numpy as np

from .errors import FieldFileError
from .fieldfile import FieldAccess
from .grid import NODE_COUNTS, node_coordinates
from .textscan import TextScan, lines_of_statements, read_bytes

NODES = NODE_COUNTS[0] * NODE_COUNTS[1] * NODE_COUNTS[2]
END_MARK = -99
FIELD_KINDS = {0: "E", 1: "B"}
# Data bytes of the nine records of layout 0: header, flags, x, y, z, three components, end mark.
RECORD_BYTES = (20, 12, 8 * 25, 8 * 25, 8 * 201, 8 * NODES, 8 * NODES, 8 * NODES, 4)
RECORD_NAMES = ("d_elm, aper, k_s_EH", "ksym", "x_grid", "y_grid", "z_grid",
                "x component", "y component", "z component", "end mark")
LAYOUT_1_VALUES = (3, 3, 25, 25, 201, NODES, NODES, NODES, 1)


@dataclass(repr=False)
class FieldFile(FieldAccess):
    """Content of one field file.

    Attributes
    ----------
    path : str
    layout : int
        0 (binary records), 1 or 2 (text).
    kind : str or None
        "E" or "B" where the file says so (layout 2), else None.
    x_grid, y_grid, z_grid : numpy.ndarray
        Node coordinates, 25, 25 and 201 values.
    xmws, ymws, zmws : tuple of float
        Lower and upper limit of each axis.
    ksym : tuple of int
        Symmetry flags of x, y and z as written.
    d_elm, aper : float or None
        Element length and aperture (None for layout 2, which does not hold them).
    Fx, Fy, Fz : numpy.ndarray
        Field components, float64 of shape (25, 25, 201), indexed [i, j, k].

    Methods `at` (the field at any point), `on_axis` and `to_xarray`; the repr is one line.

    Examples
    --------
    >>> f = kavro_field.load("eh_EMS.#01")                   # doctest: +SKIP
    >>> f.Fz.shape, f.ksym                                    # doctest: +SKIP
    ((25, 25, 201), (0, 0, 0))
    """

    path: str
    layout: int
    kind: Optional[str]
    x_grid: np.ndarray
    y_grid: np.ndarray
    z_grid: np.ndarray
    xmws: tuple
    ymws: tuple
    zmws: tuple
    ksym: tuple
    d_elm: Optional[float]
    aper: Optional[float]
    Fx: np.ndarray
    Fy: np.ndarray
    Fz: np.ndarray

    @property
    def field_name(self):
        """"E", "B", or "field" when the layout does not say which."""
        return self.kind or "field"

    @property
    def components(self):
        """The three components (Fx, Fy, Fz)."""
        return self.Fx, self.Fy, self.Fz

    @property
    def grids(self):
        """The node coordinates (x_grid, y_grid, z_grid)."""
        return self.x_grid, self.y_grid, self.z_grid

    @property
    def limits(self):
        """The limit pairs by axis name."""
        return {"x": self.xmws, "y": self.ymws, "z": self.zmws}


def load(path):
    """Read a field file of any of the three layouts.

    Parameters
    ----------
    path : str or os.PathLike

    Returns
    -------
    FieldFile

    Raises
    ------
    FieldFileError
        For a missing, damaged or foreign file, with the byte offset (layout 0) or the line
        (text layouts) where it departs from the layout and what was expected there.
    """
    path = str(path)
    data = read_bytes(path)
    if not data:
        raise FieldFileError(path, "empty file")
    if data[:4] == RECORD_BYTES[0].to_bytes(4, "little"):
        return _load_binary(path, data)
    scan = TextScan(data)
    first_line_values = int(scan.values_per_line[0]) if scan.line_count else 0
    if first_line_values not in (1, 3) or not _is_number(scan.value_text(0)):
        raise FieldFileError(
            path, "not a field file: neither a first record of 20 bytes (layout 0) nor a first"
                  " line of 3 numbers (layout 1) or of 1 integer (layout 2)")
    if first_line_values == 3:
        return _load_layout_1(path, scan)
    return _load_layout_2(path, scan)


def _is_number(text):
    try:
        float(text)
    except ValueError:
        return False
    return True


def _from_fortran_order(values):
    """Array of shape (25, 25, 201) from values stored with i fastest, then j, then k."""
    return values.reshape(NODE_COUNTS, order="F")


def _load_binary(path, data):
    offset = 0
    records = []
    for number, (length, name) in enumerate(zip(RECORD_BYTES, RECORD_NAMES), start=1):
        where = f"record {number} ({name})"
        if offset + 4 > len(data):
            raise FieldFileError(path, f"byte {offset}: the file ends where {where} should begin")
        leading = int.from_bytes(data[offset:offset + 4], "little", signed=True)
        if leading != length:
            raise FieldFileError(
                path, f"byte {offset}: {where} has the length {leading} where {length} is expected")
        if offset + 8 + length > len(data):
            raise FieldFileError(
                path, f"byte {len(data)}: the file ends inside {where} of {length} data bytes")
        trailing_at = offset + 4 + length
        trailing = int.from_bytes(data[trailing_at:trailing_at + 4], "little", signed=True)
        if trailing != length:
            raise FieldFileError(
                path, f"byte {trailing_at}: {where} ends with the length {trailing} where {length} is expected")
        records.append(offset + 4)
        offset = trailing_at + 4
    if offset != len(data):
        raise FieldFileError(
            path, f"byte {offset}: {len(data) - offset} bytes after the end record, where the file should end")

    def reals(record, count):
        return np.frombuffer(data, dtype="<f8", count=count, offset=records[record]).astype(np.float64)

    def integers(record, count, skip=0):
        return np.frombuffer(data, dtype="<i4", count=count, offset=records[record] + skip)

    end_mark = int(integers(8, 1)[0])
    if end_mark != END_MARK:
        raise FieldFileError(path, f"byte {records[8]}: end mark {end_mark} where {END_MARK} is expected")
    d_elm, aper = (float(v) for v in reals(0, 2))
    x_grid, y_grid, z_grid = reals(2, 25), reals(3, 25), reals(4, 201)
    fx, fy, fz = (_from_fortran_order(reals(r, NODES)) for r in (5, 6, 7))
    return FieldFile(path, 0, None, x_grid, y_grid, z_grid,
                     (float(x_grid[0]), aper), (float(y_grid[0]), aper), (float(z_grid[0]), d_elm / 2),
                     tuple(int(v) for v in integers(1, 3)), d_elm, aper, fx, fy, fz)


def _integer(path, scan, values, index, what):
    """Value number `index` as an int, or an error naming its line."""
    value = values[index]
    if not float(value).is_integer():
        line = int(scan.value_lines[index]) + 1
        raise FieldFileError(path, f"line {line}: {scan.value_text(index)!r} where the integer {what} is expected")
    return int(value)


def _load_layout_1(path, scan):
    per_line = (3, 6, 3, 3, 3, 3, 3, 3, 6)
    scan.check_values_per_line(path, lines_of_statements(LAYOUT_1_VALUES, per_line))
    values = scan.numbers(path)
    starts = np.concatenate(([0], np.cumsum(LAYOUT_1_VALUES)))
    statement = [values[a:b] for a, b in zip(starts[:-1], starts[1:])]
    _integer(path, scan, values, 2, "k_s_EH")
    ksym = tuple(_integer(path, scan, values, starts[1] + n, "symmetry flag") for n in range(3))
    end_mark = _integer(path, scan, values, starts[8], "end mark")
    if end_mark != END_MARK:
        raise FieldFileError(path, f"line {scan.line_count}: end mark {end_mark} where {END_MARK} is expected")
    d_elm, aper = float(values[0]), float(values[1])
    x_grid, y_grid, z_grid = statement[2], statement[3], statement[4]
    fx, fy, fz = (_from_fortran_order(statement[n]) for n in (5, 6, 7))
    return FieldFile(path, 1, None, x_grid, y_grid, z_grid,
                     (float(x_grid[0]), aper), (float(y_grid[0]), aper), (float(z_grid[0]), d_elm / 2),
                     ksym, d_elm, aper, fx, fy, fz)


def _load_layout_2(path, scan):
    expected = np.concatenate(([1, 3, 3, 3, 3], np.full(NODES, 3, dtype=np.int64)))
    scan.check_values_per_line(path, expected)
    values = scan.numbers(path)
    flag = _integer(path, scan, values, 0, "field type")
    if flag not in FIELD_KINDS:
        raise FieldFileError(path, f"line 1: field type {flag} where 0 (E) or 1 (B) is expected")
    ksym = tuple(_integer(path, scan, values, n, "symmetry flag") for n in (1, 2, 3))
    limits, grids = [], []
    for axis, count in enumerate(NODE_COUNTS):
        first = 4 + 3 * axis
        found = _integer(path, scan, values, first + 2, "node count")
        if found != count:
            raise FieldFileError(path, f"line {3 + axis}: node count {found} where {count} is expected")
        lower, upper = float(values[first]), float(values[first + 1])
        limits.append((lower, upper))
        grids.append(node_coordinates(lower, upper, count))
    # One line per node, z fastest: C order of [i, j, k, component].
    nodes = values[13:].reshape(NODE_COUNTS + (3,))
    fx, fy, fz = (np.ascontiguousarray(nodes[..., c]) for c in range(3))
    return FieldFile(path, 2, FIELD_KINDS[flag], *grids, *limits, ksym, None, None, fx, fy, fz)
