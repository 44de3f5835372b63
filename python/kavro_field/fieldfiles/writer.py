"""Writing field files in the converter's three layouts, byte for byte as its writers make them.

Layout 0 is nine unformatted records, each framed by its data length (a little-endian 32-bit
integer) before and after; layouts 1 and 2 are list-directed text: 24-column reals, 12-column
integers, at most 80 columns to a line, CR LF line ends. A real is written with 15 significant
digits in fixed form when it rounds to 0.1 <= |x| < 1e15, otherwise with 16 digits and a
three-digit exponent; the digits are correctly rounded from the exact binary value (Python's own
float formatting is correctly rounded, so "%.14e" and "%.15e" give them).
"""

import math
import os
from typing import Any, Mapping, Optional, Sequence, Union

import numpy as np

from .grid import NODE_COUNTS, node_coordinates
from ..atomic import write_atomically

K_S_EH = 0
END_MARK = -99
FIELD_FLAGS = {"E": 0, "B": 1}
LINE_END = "\r\n"
ZERO_FIELD = "  0.000000000000000E+000"
# Reals are laid out three to a line: 3 x 24 = 72 columns, a fourth would need 96 of the 80.
REALS_PER_LINE = 3


def real_field(x: float) -> str:
    """The 24-column field of one real, as the converter's list-directed output writes it.

    Parameters
    ----------
    x : float

    Returns
    -------
    str
        24 characters.

    Examples
    --------
    >>> [real_field(v) for v in (1.0, 0.09, 123456789012345.0, 1e15)]
    ['   1.00000000000000     ', '  9.000000000000000E-002', '   123456789012345.     ', '  1.000000000000000E+015']
    >>> real_field(0.09999999999999999), real_field(-0.0)
    ('  0.100000000000000     ', '  0.000000000000000E+000')
    """
    x = float(x)
    if math.isnan(x):
        return "NaN".rjust(24)
    if math.isinf(x):
        return ("-Infinity" if x < 0 else "Infinity").rjust(24)
    if x == 0.0:
        return ZERO_FIELD
    sign = "-" if x < 0 else ""
    a = abs(x)
    mantissa, exponent = ("%.14e" % a).split("e")
    k = int(exponent) + 1  # the value is 0.d1..d15 x 10^k, after the carry of the rounding
    if 0 <= k <= 15:
        digits = mantissa[0] + mantissa[2:]
        body = ("0." + digits) if k == 0 else (digits[:k] + "." + digits[k:])
        return (sign + body).rjust(19) + "     "
    mantissa, exponent = ("%.15e" % a).split("e")
    power = int(exponent)
    return f"{sign}{mantissa}E{'-' if power < 0 else '+'}{abs(power):03d}".rjust(24)


def integer_field(n: int) -> str:
    """The 12-column field of a 32-bit integer.

    Examples
    --------
    >>> integer_field(-99)
    '         -99'
    """
    return f"{int(n):12d}"


def _real_fields(values) -> list:
    """The fields of many reals; a value met again reuses its text (field files repeat values)."""
    values = np.asarray(values, dtype=np.float64).ravel()
    unique, inverse = np.unique(values.view(np.uint64), return_inverse=True)
    texts = [real_field(v) for v in unique.view(np.float64).tolist()]
    return [texts[i] for i in inverse.ravel().tolist()]


def _reals_statement(values) -> str:
    """A list-directed statement of reals only: three to a line."""
    fields = _real_fields(values)
    lines = ["".join(fields[n:n + REALS_PER_LINE]) for n in range(0, len(fields), REALS_PER_LINE)]
    return LINE_END.join(lines) + LINE_END


def _record(*parts: bytes) -> bytes:
    data = b"".join(parts)
    length = len(data).to_bytes(4, "little", signed=True)
    return length + data + length


def _reals_bytes(values) -> bytes:
    return np.ascontiguousarray(values, dtype="<f8").tobytes()


def _ints_bytes(values) -> bytes:
    return np.asarray(values, dtype="<i4").tobytes()


def _get(field: Any, name: str, default=None):
    if isinstance(field, Mapping):
        return field.get(name, default)
    return getattr(field, name, default)


class _Content:
    """What a writer needs, from a FieldFile or a mapping of arrays, completed where it can be."""

    def __init__(self, field: Any, layout: int, kind: Optional[str]):
        self.components = []
        for name in ("Fx", "Fy", "Fz"):
            value = _get(field, name)
            if value is None:
                raise ValueError(f"the field has no component {name}")
            value = np.asarray(value, dtype=np.float64)
            if value.shape != NODE_COUNTS:
                raise ValueError(f"the component {name} has the shape {value.shape}, where a field file has {NODE_COUNTS}")
            self.components.append(value)
        ksym = _get(field, "ksym")
        if ksym is None or len(ksym) != 3:
            raise ValueError("the field has no three symmetry flags (ksym)")
        self.ksym = tuple(int(v) for v in ksym)
        self.d_elm, self.aper = _get(field, "d_elm"), _get(field, "aper")
        limits = [_get(field, name) for name in ("xmws", "ymws", "zmws")]
        if self.d_elm is None or self.aper is None:
            if any(pair is None for pair in limits):
                raise ValueError("the field gives neither d_elm and aper nor the limits of its axes")
            # The upper limits are aper, aper and d_elm / 2 exactly: halving and doubling are exact.
            self.aper, self.d_elm = float(limits[0][1]), 2.0 * float(limits[2][1])
        self.d_elm, self.aper = float(self.d_elm), float(self.aper)
        if any(pair is None for pair in limits):
            halves = (self.aper, self.aper, self.d_elm / 2)
            limits = [(0.0 if flag != 0 else -half, half) for flag, half in zip(self.ksym, halves)]
        self.limits = [(float(lo), float(hi)) for lo, hi in limits]
        grids = [_get(field, name) for name in ("x_grid", "y_grid", "z_grid")]
        self.grids = [np.asarray(g, dtype=np.float64) if g is not None else node_coordinates(lo, hi, n)
                      for g, (lo, hi), n in zip(grids, self.limits, NODE_COUNTS)]
        self.kind = kind or _get(field, "kind")
        if layout == 2 and self.kind not in FIELD_FLAGS:
            raise ValueError("layout 2 states the field kind: give kind 'E' or 'B'")


def field_file_bytes(field: Any, layout: int, kind: Optional[str] = None) -> bytes:
    """The bytes of a field file of a layout, as the converter writes them for these arrays.

    Parameters
    ----------
    field : FieldFile or mapping
        Fx, Fy, Fz (25 x 25 x 201, indexed [i, j, k]) and ksym; d_elm and aper, or the limits
        xmws, ymws, zmws (a layout-2 file's), from which the other follow; x_grid, y_grid, z_grid
        where given (else the converter's nodes of the limits); kind ("E" or "B") for layout 2.
    layout : int
        0, 1 or 2.
    kind : str, optional
        Overrides the field's own kind.

    Returns
    -------
    bytes

    Raises
    ------
    ValueError
        For a layout other than 0, 1, 2, a missing part, or arrays of another shape.

    Examples
    --------
    >>> zero = np.zeros((25, 25, 201))
    >>> text = field_file_bytes({"Fx": zero, "Fy": zero, "Fz": zero, "ksym": (0, 0, 0),
    ...                          "d_elm": 0.5, "aper": 0.025}, 1)
    >>> text.split(b"\\r\\n")[0].decode()
    '  0.500000000000000       2.500000000000000E-002           0'
    >>> len(text), len(field_file_bytes({"Fx": zero, "Fy": zero, "Fz": zero, "ksym": (0, 0, 0),
    ...                                  "d_elm": 0.5, "aper": 0.025}, 0))
    (9302558, 3017116)
    """
    if layout not in (0, 1, 2):
        raise ValueError(f"layout {layout!r}: a field file has layout 0, 1 or 2")
    c = _Content(field, layout, kind)
    # Records 6 to 8 and statements 6 to 8 hold each array with i fastest, then j, then k.
    flat = [a.ravel(order="F") for a in c.components]
    if layout == 0:
        return b"".join([
            _record(_reals_bytes([c.d_elm, c.aper]), _ints_bytes([K_S_EH])),
            _record(_ints_bytes(c.ksym)),
            *(_record(_reals_bytes(g)) for g in c.grids),
            *(_record(_reals_bytes(a)) for a in flat),
            _record(_ints_bytes([END_MARK])),
        ])
    if layout == 1:
        text = [real_field(c.d_elm) + real_field(c.aper) + integer_field(K_S_EH) + LINE_END,
                "".join(integer_field(v) for v in c.ksym) + LINE_END,
                *(_reals_statement(g) for g in c.grids),
                *(_reals_statement(a) for a in flat),
                integer_field(END_MARK) + LINE_END]
        return "".join(text).encode("ascii")
    header = [integer_field(FIELD_FLAGS[c.kind]), "".join(integer_field(v) for v in c.ksym)]
    header += [real_field(lo) + real_field(hi) + integer_field(n) for (lo, hi), n in zip(c.limits, NODE_COUNTS)]
    # One line per node, z fastest: the C order of [i, j, k] with the three components side by side.
    nodes = np.stack([a.ravel(order="C") for a in c.components], axis=1)
    body = _reals_statement(nodes)
    return (LINE_END.join(header) + LINE_END + body).encode("ascii")


def write_field_file(path: Union[str, "os.PathLike[str]"], field: Any, layout: int, *, kind: Optional[str] = None,
                     inputs: Sequence[Union[str, "os.PathLike[str]"]] = ()) -> str:
    """Write a field file of a layout, byte for byte as the converter's writers make it.

    The file is written to a temporary file beside `path` and renamed onto it when complete.

    Parameters
    ----------
    path : str or os.PathLike
        The output.
    field : FieldFile or mapping
        See `field_file_bytes`.
    layout : int
        0 (binary records), 1 or 2 (text).
    kind : str, optional
        "E" or "B", for layout 2 where the field does not say.
    inputs : sequence of str
        Files the output is made from, which it must not replace.

    Returns
    -------
    str
        The path written.

    Raises
    ------
    ValueError
        For content a field file cannot hold (see `field_file_bytes`).
    UnwritableOutputError
        When the output cannot be written, or would replace the file a FieldFile was read from.

    Examples
    --------
    >>> zero = np.zeros((25, 25, 201))
    >>> out = write_field_file("eh_EMS.#01", {"Fx": zero, "Fy": zero, "Fz": zero, "ksym": (0, 0, 1),
    ...                                       "d_elm": 16.0, "aper": 1.0}, 2, kind="E")
    >>> open(out, "rb").read().split(b"\\r\\n")[4].decode()
    '  0.000000000000000E+000   8.00000000000000              201'
    """
    path = os.fspath(path)
    data = field_file_bytes(field, layout, kind)
    source = _get(field, "path")
    sources = [os.fspath(p) for p in inputs] + ([os.fspath(source)] if isinstance(source, (str, os.PathLike)) else [])

    def write(temporary):
        with open(temporary, "wb") as out:
            out.write(data)
    write_atomically(path, write, inputs=sources)
    return path
