"""Reading the converter's field files in their three layouts, recognised by their content."""

import math
import os
from typing import Union

import numpy as np

from ..errors import DamagedFileError
from .fieldfile import FieldFile
from .grid import AXIS_NAMES, NODE_COUNTS, node_coordinates
from ..units import FIELD_KINDS
from ..inputs.textscan import INTEGER, NOT_A_NUMBER, Sizes, TextScan, lines_of_statements, read_bytes

# The three layouts in words.
LAYOUT_NAMES = {0: "binary records", 1: "text, records as lines", 2: "text, one line per node"}
NODES = NODE_COUNTS[0] * NODE_COUNTS[1] * NODE_COUNTS[2]
END_MARK = -99
# Data bytes of the nine records of layout 0: header, flags, x, y, z, three components, end mark.
RECORD_BYTES = (20, 12, 8 * 25, 8 * 25, 8 * 201, 8 * NODES, 8 * NODES, 8 * NODES, 4)
RECORD_NAMES = ("d_elm, aper, k_s_EH", "ksym", "x_grid", "y_grid", "z_grid",
                "x component", "y component", "z component", "end mark")
LAYOUT_1_VALUES = (3, 3, 25, 25, 201, NODES, NODES, NODES, 1)
# Every value has a field of fixed width, so the sizes are fixed too: layout 0 exactly; the text
# layouts from layout 2 with LF line ends (125,630 lines) to layout 1 with CR LF (125,713 lines).
LAYOUT_0_BYTES = 3_017_116
TEXT_BYTES = (9_296_488 - 125_630, 9_302_558)
FIELD_FILE_SIZES = Sizes(((LAYOUT_0_BYTES, LAYOUT_0_BYTES), TEXT_BYTES),
                         f"a field file has {LAYOUT_0_BYTES:,} bytes (layout 0) or {TEXT_BYTES[0]:,} to"
                         f" {TEXT_BYTES[1]:,} bytes (layouts 1 and 2)")


def load(path: Union[str, "os.PathLike[str]"]) -> FieldFile:
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
        (text layouts) where it departs from the layout and what was expected there; for anything
        but a regular file of a size the layouts have, before it is read.

    Examples
    --------
    >>> import os, tempfile
    >>> short = os.path.join(tempfile.mkdtemp(), "short")
    >>> with open(short, "wb") as out:
    ...     out.write(b"25 " * 40)
    120
    >>> try:
    ...     load(short)
    ... except DamagedFileError as err:
    ...     print(err.problem.split(" (")[0])
    120 bytes, where a field file has 3,017,116 bytes
    """
    path = str(path)
    data = read_bytes(path, FIELD_FILE_SIZES)
    if data[:4] == RECORD_BYTES[0].to_bytes(4, "little"):
        return _load_binary(path, data)
    scan = TextScan(data)
    first_line_values = int(scan.values_per_line[0]) if scan.line_count else 0
    if first_line_values not in (1, 3) or scan.kinds[0] == NOT_A_NUMBER:
        raise DamagedFileError(
            path, "not a field file: neither a first record of 20 bytes (layout 0) nor a first"
                  " line of 3 numbers (layout 1) or of 1 integer (layout 2)")
    if first_line_values == 3:
        return _load_layout_1(path, scan)
    return _load_layout_2(path, scan)


def _from_fortran_order(values):
    """Array of shape (25, 25, 201) from values stored with i fastest, then j, then k."""
    return values.reshape(NODE_COUNTS, order="F")


def _expect(path, where, what, found, allowed):
    if found not in allowed:
        wanted = " or ".join(str(v) for v in allowed)
        raise DamagedFileError(path, f"{where}: {what} {found} where {wanted} is expected")


def _check_limits(path, limits, places):
    """Each axis between finite limits. Their order is not checked: a negative `aper` or `d_elm`
    makes the converter write a grid that runs backwards, and zero a grid of one point; `check`
    reports those files, so they must be read."""
    for axis, (lower, upper), where in zip(AXIS_NAMES, limits, places):
        if not (math.isfinite(lower) and math.isfinite(upper)):
            raise DamagedFileError(path, f"{where}: the {axis} limits {lower!r} and {upper!r} are not finite")


def _load_binary(path, data):
    offset = 0
    records = []
    for number, (length, name) in enumerate(zip(RECORD_BYTES, RECORD_NAMES), start=1):
        where = f"record {number} ({name})"
        if offset + 4 > len(data):
            raise DamagedFileError(path, f"byte {offset}: the file ends where {where} should begin")
        leading = int.from_bytes(data[offset:offset + 4], "little", signed=True)
        if leading != length:
            raise DamagedFileError(
                path, f"byte {offset}: {where} has the length {leading} where {length} is expected")
        if offset + 8 + length > len(data):
            raise DamagedFileError(
                path, f"byte {len(data)}: the file ends inside {where} of {length} data bytes")
        trailing_at = offset + 4 + length
        trailing = int.from_bytes(data[trailing_at:trailing_at + 4], "little", signed=True)
        if trailing != length:
            raise DamagedFileError(
                path, f"byte {trailing_at}: {where} ends with the length {trailing} where {length} is expected")
        records.append(offset + 4)
        offset = trailing_at + 4
    if offset != len(data):
        raise DamagedFileError(
            path, f"byte {offset}: {len(data) - offset} bytes after the end record, where the file should end")

    def reals(record, count):
        return np.frombuffer(data, dtype="<f8", count=count, offset=records[record]).astype(np.float64)

    def integers(record, count, skip=0):
        return np.frombuffer(data, dtype="<i4", count=count, offset=records[record] + skip)

    _expect(path, f"byte {records[8]}", "end mark", int(integers(8, 1)[0]), (END_MARK,))
    _expect(path, f"byte {records[0] + 16}", "k_s_EH", int(integers(0, 1, skip=16)[0]), (0,))
    d_elm, aper = (float(v) for v in reals(0, 2))
    x_grid, y_grid, z_grid = reals(2, 25), reals(3, 25), reals(4, 201)
    limits = _limits_of_grids(x_grid, y_grid, z_grid, d_elm, aper)
    _check_limits(path, limits, [f"byte {records[n]}" for n in (2, 3, 4)])
    fx, fy, fz = (_from_fortran_order(reals(r, NODES)) for r in (5, 6, 7))
    return FieldFile(path, 0, None, x_grid, y_grid, z_grid, *limits,
                     tuple(int(v) for v in integers(1, 3)), d_elm, aper, fx, fy, fz)


def _limits_of_grids(x_grid, y_grid, z_grid, d_elm, aper):
    """Limits of layouts 0 and 1: the first node of each axis, then aper, aper and d_elm / 2."""
    return (float(x_grid[0]), aper), (float(y_grid[0]), aper), (float(z_grid[0]), d_elm / 2)


def _integer(path, scan, index, what):
    """Value number `index`, which the layout writes as a 32-bit integer."""
    text = scan.value_text(index)
    if scan.kinds[index] != INTEGER or not -2**31 <= int(text) < 2**31:
        raise DamagedFileError(path, f"line {scan.line_of(index)}: {text!r} where the integer {what} is expected")
    return int(text)


def _load_layout_1(path, scan):
    per_line = (3, 6, 3, 3, 3, 3, 3, 3, 6)
    scan.check_values_per_line(path, lines_of_statements(LAYOUT_1_VALUES, per_line))
    values = scan.numbers(path)
    starts = np.concatenate(([0], np.cumsum(LAYOUT_1_VALUES)))
    statement = [values[a:b] for a, b in zip(starts[:-1], starts[1:])]
    _expect(path, "line 1", "k_s_EH", _integer(path, scan, 2, "k_s_EH"), (0,))
    ksym = tuple(_integer(path, scan, starts[1] + n, "symmetry flag") for n in range(3))
    _expect(path, f"line {scan.line_count}", "end mark", _integer(path, scan, starts[8], "end mark"), (END_MARK,))
    d_elm, aper = float(values[0]), float(values[1])
    x_grid, y_grid, z_grid = statement[2], statement[3], statement[4]
    limits = _limits_of_grids(x_grid, y_grid, z_grid, d_elm, aper)
    _check_limits(path, limits, [f"line {scan.line_of(starts[n])}" for n in (2, 3, 4)])
    fx, fy, fz = (_from_fortran_order(statement[n]) for n in (5, 6, 7))
    return FieldFile(path, 1, None, x_grid, y_grid, z_grid, *limits, ksym, d_elm, aper, fx, fy, fz)


def _load_layout_2(path, scan):
    expected = np.concatenate(([1, 3, 3, 3, 3], np.full(NODES, 3, dtype=np.int64)))
    scan.check_values_per_line(path, expected)
    values = scan.numbers(path)
    flag = _integer(path, scan, 0, "field type")
    _expect(path, "line 1", "field type", flag, tuple(FIELD_KINDS))
    ksym = tuple(_integer(path, scan, n, "symmetry flag") for n in (1, 2, 3))
    limits = []
    for axis, count in enumerate(NODE_COUNTS):
        first = 4 + 3 * axis
        _expect(path, f"line {3 + axis}", "node count", _integer(path, scan, first + 2, "node count"), (count,))
        limits.append((float(values[first]), float(values[first + 1])))
    _check_limits(path, limits, ["line 3", "line 4", "line 5"])
    grids = [node_coordinates(lower, upper, count) for (lower, upper), count in zip(limits, NODE_COUNTS)]
    # One line per node, z fastest: C order of [i, j, k, component].
    nodes = values[13:].reshape(NODE_COUNTS + (3,))
    fx, fy, fz = (np.ascontiguousarray(nodes[..., c]) for c in range(3))
    return FieldFile(path, 2, FIELD_KINDS[flag], *grids, *limits, ksym, None, None, fx, fy, fz)
