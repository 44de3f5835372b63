"""The inputs of a conversion read exactly as the converter reads them: the control file, the
Poisson table, the map prepared from it (centred, mirrored, scaled) and the field the converter
samples from it on its output grid.

`trace` follows a conversion up to the output file and says how the converter's run will end (a
clean run, a failure report or a stop), with everything read on the way; `read_inputs` gives the
prepared map of a run that gets that far.
"""

import decimal
import errno
import math
import os
import stat
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

import numpy as np

from .errors import FieldFileError
from .grid import AXIS_RADIUS, NODE_COUNTS, node_coordinates
from .listread import (READ_ERROR, Lines, Oddity, Origin, ReadFailure, TextRecord,
                       read_list, skip)

CONTROL_NAME = "poisson_to_kavro.dat"
CONTROL_ITEMS = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", ("ksym_x", "ksym_y", "ksym_z"),
                 "d_elm", "aper", "scale_E", "scale_B")
INTEGER_ITEMS = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", "ksym_x", "ksym_y", "ksym_z")
MIRROR_MODES = (1, -1, 2, -2)
# Capacity of the converter's map.
NR_MAX, NZ_MAX = 200, 1000
FIELD_TYPE_STOP = " Not a valid Field Type (iflag_EH) "
FORMAT_STOP = " Not a valid KAVRO 3D field format: use 0, 1 or 2 "


def shortest_text(v: float) -> str:
    """A real as the converter's stop messages write it: the shortest text that reads back as
    the same value, fixed or exponent form whichever is shorter (fixed on a tie), ".0" added to
    a finite value without a point or exponent.

    Examples
    --------
    >>> shortest_text(-0.0), shortest_text(2.059), shortest_text(1e-4), shortest_text(100.0)
    ('-0.0', '2.059', '1e-04', '100.0')
    """
    if math.isnan(v):
        return "-nan" if math.copysign(1.0, v) < 0 else "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    sign, digits, exp = decimal.Decimal(repr(v)).normalize().as_tuple()
    digits = "".join(map(str, digits))
    n = len(digits)
    sci_exp = exp + n - 1
    sci = digits[0] + ("." + digits[1:] if n > 1 else "") + f"e{'-' if sci_exp < 0 else '+'}{abs(sci_exp):02d}"
    if exp >= 0:
        fixed = digits + "0" * exp
    elif n + exp > 0:
        fixed = digits[:n + exp] + "." + digits[n + exp:]
    else:
        fixed = "0." + "0" * (-(n + exp)) + digits
    text = fixed if len(fixed) <= len(sci) else sci
    if "." not in text and "e" not in text:
        text += ".0"
    return ("-" if sign else "") + text


def full_path(folder: str, name: str) -> str:
    """The name completed with the working directory and its `.` and `..` resolved by their
    text, as the converter's reports name a file."""
    joined = name if name.startswith("/") else os.path.realpath(folder) + "/" + name
    parts = []
    for part in joined.split("/"):
        if part in ("", "."):
            continue
        if part == "..":
            if parts:
                parts.pop()
            continue
        parts.append(part)
    return "/" + "/".join(parts)


def open_name(fixed: str) -> str:
    """The name a fixed-length text opens: without its leading and trailing blanks."""
    return fixed.lstrip(" ").rstrip(" \0")[:256]


def _system_text(code):
    return os.strerror(code)


# What the converter holds of a line at the most, and so what is read of an input at the most.
LARGEST_INPUT = 64 << 20


def read_old(folder: str, name: str, unit: int) -> Tuple[bytes, str]:
    """The content of an existing file opened as the converter opens it; ReadFailure as its
    open or read would fail (29 missing, 9 refused, 43 bad name, 30 other, 39 read refused)."""
    path = full_path(folder, name)
    if "\0" in name:
        raise ReadFailure(43, unit, path, why="the name holds a NUL character")
    target = name if name.startswith("/") else os.path.join(folder, name)
    try:
        if not name:
            raise FileNotFoundError(errno.ENOENT, "no name")
        fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as err:
        code = err.errno
        if code in (errno.ENOENT, errno.ENOTDIR):
            raise ReadFailure(29, unit, path, why=f"the file {name!r} does not exist") from None
        if code in (errno.EACCES, errno.EPERM):
            raise ReadFailure(9, unit, path, why="permission to read the file is refused") from None
        if code == errno.ENAMETOOLONG:
            raise ReadFailure(43, unit, path, why="the name is too long") from None
        raise ReadFailure(30, unit, path, why=f"the open fails: {_system_text(code)}",
                          system_text=_system_text(code)) from None
    try:
        if stat.S_ISFIFO(os.fstat(fd).st_mode):
            return b"", path  # a FIFO without a writer reads as an empty file
        chunks, size = [], 0
        while size <= LARGEST_INPUT:
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                return b"".join(chunks), path
            chunks.append(chunk)
            size += len(chunk)
    except OSError as err:
        raise ReadFailure(READ_ERROR, unit, path, why=f"the read fails: {_system_text(err.errno)}",
                          system_text=_system_text(err.errno)) from None
    finally:
        os.close(fd)
    # The converter streams its inputs but holds one line whole and refuses a line of 64 MiB or
    # more (a device that never ends, a file without line ends): that much read without a line
    # end is that failure. A larger file of ordinary lines is more than any control file or
    # table of the map's size, and is not read on.
    if b"\n" not in b"".join(chunks)[:LARGEST_INPUT]:
        raise ReadFailure(READ_ERROR, unit, path, why="a line of 64 MiB or more",
                          system_text=_system_text(errno.EFBIG))
    raise FieldFileError(target, f"more than {LARGEST_INPUT:,} bytes: larger than any control file or table,"
                                 " not read")


def _wrap32(v):
    return (v + 2 ** 31) % 2 ** 32 - 2 ** 31


# Bytes of a table row that the plain path reads: digits, point, signs, exponent letters, blanks.
_PLAIN = np.zeros(256, dtype=bool)
_PLAIN[[ord(c) for c in "0123456789.+-eEdDqQ \t"]] = True
_SEPARATES = np.zeros(256, dtype=bool)
_SEPARATES[[9, 10, 13, 32]] = True
_EXPONENTS = bytes.maketrans(b"dDqQ", b"eeee")


class _Rows:
    """The table rows: one list-directed read of four reals each, a fresh line for each.

    Lines made only of plain numbers and blanks, with four values or more, are read together by
    numpy; a row that is not plain (commas, nulls, spread over lines, a remark, a bad value) is
    read by the general rules. Both give the same values: a plain constant is read by either as
    its correctly rounded value.
    """

    def __init__(self, src: Lines):
        self.src = src
        self.base = src.next
        starts, ends = src.starts[self.base:], src.ends[self.base:]
        if len(starts) == 0:
            self.plain = np.zeros(0, dtype=bool)
            return
        origin = int(starts[0])
        codes = np.frombuffer(src.data, dtype=np.uint8)[origin:]
        # Counted per line by where the few marked bytes are: no pass over the text by cumsum.
        bad = np.flatnonzero(~_PLAIN[codes])
        separates = _SEPARATES[codes]
        token_start = ~separates
        token_start[1:] &= separates[:-1]
        tokens = np.flatnonzero(token_start)
        s, e = starts - origin, ends - origin
        self.tokens = np.searchsorted(tokens, e) - np.searchsorted(tokens, s)
        self.plain = (np.searchsorted(bad, e) == np.searchsorted(bad, s)) & (self.tokens >= 4)

    def _convert(self, i, j):
        """Values of the first four numbers of lines i .. j - 1 (relative), or None if any fails."""
        src = self.src
        text = src.data[src.starts[self.base + i]:src.ends[self.base + j - 1]].translate(_EXPONENTS)
        try:
            values = np.array(text.split()).astype(np.float64)
        except ValueError:
            return None
        counts = self.tokens[i:j]
        first = np.concatenate(([0], np.cumsum(counts)[:-1]))
        return values[first[:, None] + np.arange(4)]

    def _plain_run(self, i, j):
        """Values of the longest start of lines i .. j - 1 that reads as plain rows."""
        values = self._convert(i, j)
        if values is None:
            if j - i == 1:
                return np.zeros((0, 4))
            mid = (i + j) // 2
            head = self._plain_run(i, mid)
            if len(head) < mid - i:
                return head
            return np.concatenate((head, self._plain_run(mid, j)))
        finite = np.isfinite(values).all(axis=1)  # an overflow is the general rules' failure
        return values if finite.all() else values[:int(np.argmin(finite))]

    def read(self, count):
        """(values (count, 4), line of each row, oddities)."""
        values = np.zeros((count, 4))
        lines = np.zeros(count, dtype=np.int64)
        oddities = []
        row = 0
        last = [0.0] * 4
        while row < count:
            i = self.src.next - self.base
            if i < len(self.plain) and self.plain[i]:
                j = i + 1
                limit = min(len(self.plain), i + count - row)
                # the run of plain lines, found a block at a time
                while j < limit:
                    block = self.plain[j:min(limit, j + 4096)]
                    stop = np.flatnonzero(~block)
                    if stop.size:
                        j += int(stop[0])
                        break
                    j += len(block)
                run = self._plain_run(i, j)
                k = len(run)
                if k < j - i:
                    self.plain[i + k] = False  # read by the general rules, once
                if k:
                    values[row:row + k] = run
                    lines[row:row + k] = np.arange(self.base + i + 1, self.base + i + k + 1)
                    self.src.next += k
                    row += k
                    last = [float(v) for v in run[-1]]
                    continue
            statement = read_list(self.src, last, [False] * 4)
            first = next((o for o in statement.origins if o is not None), None)
            lines[row] = first.line if first is not None else statement.last_line
            oddities += statement.oddities
            values[row] = last
            row += 1
        return values, lines, oddities

    def leading_plain(self) -> int:
        """How many lines from the first row on hold four numbers or more, one after the other
        (before `read` has passed any to the general rules)."""
        stop = np.flatnonzero(~self.plain)
        return int(stop[0]) if stop.size else len(self.plain)


@dataclass
class Inputs:
    """The inputs of a conversion as the converter reads and prepares them.

    Attributes
    ----------
    control_path : str
        The control file.
    control : dict
        Every value by its name in the control file: poisson_file (without trailing blanks),
        iflag_EH, kmirror_z, kfile_num, kform_3D, ksym_x, ksym_y, ksym_z, d_elm, aper, scale_E,
        scale_B.
    table_path : str
        The Poisson table, as the converter opens it.
    kind : str
        "E" (iflag_EH = 0) or "B" (1).
    Rmin, Rmax, Zmin, Zmax : float
        Limits of the prepared map (z centred, doubled when mirrored).
    r_node, z_node : numpy.ndarray
        Node coordinates of the prepared map.
    radial, axial : numpy.ndarray
        Field components at the nodes, shape (Nr, Nz), scaled and mirrored.
    """

    control_path: str
    control: Dict[str, object]
    table_path: str
    kind: str
    Rmin: float
    Rmax: float
    Zmin: float
    Zmax: float
    r_node: np.ndarray
    z_node: np.ndarray
    radial: np.ndarray
    axial: np.ndarray

    @property
    def Nr(self) -> int:
        return len(self.r_node)

    @property
    def Nz(self) -> int:
        return len(self.z_node)

    def at(self, r, z) -> Tuple[np.ndarray, np.ndarray]:
        """The converter's approximation of the map at (r, z): the quadratic formula on the 3 x 3
        nodes around the nearest node, in its order of operations; zero outside the map.

        Parameters
        ----------
        r, z : float or array_like
            Radius and position, broadcast together.

        Returns
        -------
        (F_r, F_z) : tuple of numpy.ndarray

        Examples
        --------
        >>> inputs = read_inputs("examples/lens")  # doctest: +SKIP
        >>> inputs.at(0.0, inputs.z_node[5])[1] == inputs.axial[0, 5]  # doctest: +SKIP
        True
        """
        r, z = np.broadcast_arrays(np.asarray(r, dtype=np.float64), np.asarray(z, dtype=np.float64))
        ir, p, inside_r = _stencil(self.r_node, r)
        iz, q, inside_z = _stencil(self.z_node, z)
        inside = inside_r & inside_z
        ir, iz, p, q = ir[inside], iz[inside], p[inside], q[inside]
        p2, q2 = p * p, q * q
        w0 = (1 - p2) - q2
        wrp, wrm = (p + p2) / 2, (p2 - p) / 2
        wzp, wzm = (q + q2) / 2, (q2 - q) / 2
        wx = (p * q) / 4
        results = []
        with np.errstate(invalid="ignore", over="ignore"):
            for f in (self.radial, self.axial):
                x = (((f[ir + 1, iz + 1] + f[ir - 1, iz - 1]) - f[ir - 1, iz + 1]) - f[ir + 1, iz - 1]) * wx
                s = wrp * f[ir + 1, iz]
                s = s + w0 * f[ir, iz]
                s = s + wrm * f[ir - 1, iz]
                s = s + wzp * f[ir, iz + 1]
                s = s + wzm * f[ir, iz - 1]
                out = np.zeros(r.shape)
                out[inside] = s + x
                results.append(out)
        return results[0], results[1]

    def grid(self) -> Dict[str, Tuple[Tuple[float, float], np.ndarray]]:
        """The output grid the converter lays out: {"x"|"y"|"z": ((lower, upper), nodes)}.

        Examples
        --------
        >>> (lower, upper), nodes = read_inputs("examples/lens").grid()["z"]  # doctest: +SKIP
        """
        return output_grid(self.control)

    def field3d(self) -> "Field3D":
        """The whole 3D field as the converter samples it: on its grid, the Cartesian components
        (x F_r) / r and (y F_r) / r off the axis, 0 on it (r <= 1e-12), and F_z.

        Examples
        --------
        >>> f = read_inputs("examples/lens").field3d()  # doctest: +SKIP
        >>> f.Fz.shape  # doctest: +SKIP
        (25, 25, 201)
        """
        axes = self.grid()
        x = axes["x"][1][:, None, None]
        y = axes["y"][1][None, :, None]
        z = axes["z"][1][None, None, :]
        r = np.sqrt(x * x + y * y)
        f_r, f_z = self.at(np.broadcast_to(r, NODE_COUNTS), np.broadcast_to(z, NODE_COUNTS))
        off_axis = np.broadcast_to(r > AXIS_RADIUS, NODE_COUNTS)
        with np.errstate(invalid="ignore", divide="ignore"):
            fx = np.where(off_axis, (x * f_r) / r, 0.0)
            fy = np.where(off_axis, (y * f_r) / r, 0.0)
        return Field3D(self.kind, axes["x"][1], axes["y"][1], axes["z"][1], axes["x"][0], axes["y"][0],
                       axes["z"][0], fx, fy, f_z)


@dataclass
class Field3D:
    """A 3D field on the output grid: components indexed [i, j, k] like a field file's."""

    kind: str
    x_grid: np.ndarray
    y_grid: np.ndarray
    z_grid: np.ndarray
    xmws: Tuple[float, float]
    ymws: Tuple[float, float]
    zmws: Tuple[float, float]
    Fx: np.ndarray
    Fy: np.ndarray
    Fz: np.ndarray


def _stencil(node, x):
    """Centre node (from 0), offset in steps and the inside mask along one axis."""
    n = len(node)
    inside = ~((x < node[0]) | (x > node[-1]))
    d = node[1] - node[0]
    with np.errstate(invalid="ignore", over="ignore"):
        t = ((x - node[0]) - d / 2) / d
        low = ~(t > -1.0)
        high = t >= 2147483645.0
        centre = np.trunc(np.where(low | high, 0.0, t)).astype(np.int64) + 2
    centre = np.where(low, 2, np.where(high, n - 1, centre))
    centre = np.minimum(np.maximum(centre, 2), n - 1) - 1
    with np.errstate(invalid="ignore"):
        offset = (x - node[centre]) / d
    return centre, offset, inside


def output_grid(control) -> Dict[str, Tuple[Tuple[float, float], np.ndarray]]:
    """The converter's output grid from aper, d_elm and the symmetry flags."""
    axes = {}
    for axis, half, flag, n in (("x", control["aper"], control["ksym_x"], 25), ("y", control["aper"], control["ksym_y"], 25),
                                ("z", control["d_elm"] / 2, control["ksym_z"], 201)):
        lower, upper = -half, half
        if flag != 0:
            lower = 0.0
        with np.errstate(over="ignore", invalid="ignore"):
            axes[axis] = ((lower, upper), node_coordinates(lower, upper, n))
    return axes


@dataclass
class Outcome:
    """How the converter's run ends: "ok", "failure" (message number, unit) or "stop"."""

    outcome: str
    message: Optional[int] = None
    unit: Optional[int] = None
    output: Optional[str] = None
    stderr: List[str] = field(default_factory=list)  # lines, without their CR LF
    where: Optional[Origin] = None
    why: str = ""


@dataclass
class Trace:
    """Everything a conversion reads, up to where its run ends.

    Attributes
    ----------
    outcome : Outcome
    control : dict
        The control values read (by their names), as far as the read got.
    origins : dict
        Name -> Origin of each control value and header value.
    oddities : list of Oddity
    header : dict
        Rmin, Zmin, Rmax, Zmax (as read), r_intervals, z_intervals; and their lines.
    rows, row_lines : numpy.ndarray or None
        The four numbers of each table row and the line each begins on.
    plain_rows : int or None
        How many lines from the first row on hold four plain numbers or more in a row.
    inputs : Inputs or None
        The prepared map, when the run gets that far.
    """

    control_path: str
    folder: str
    outcome: Outcome = None
    control: Dict[str, object] = field(default_factory=dict)
    origins: Dict[str, Origin] = field(default_factory=dict)
    oddities: List[Oddity] = field(default_factory=list)
    table_path: Optional[str] = None
    table_lines: Optional[Lines] = None
    header: Dict[str, object] = field(default_factory=dict)
    first_row_line: Optional[int] = None
    rows: Optional[np.ndarray] = None
    row_lines: Optional[np.ndarray] = None
    plain_rows: Optional[int] = None
    inputs: Optional[Inputs] = None


def control_location(control) -> Tuple[str, str]:
    """(folder, control file) of a control file path or of the folder that holds one."""
    control = os.fspath(control)
    if os.path.isdir(control):
        return control, os.path.join(control, CONTROL_NAME)
    return os.path.dirname(control) or ".", control


def _read_control(trace: Trace):
    folder, path = trace.folder, trace.control_path
    data, full = read_old(folder, os.path.basename(path), 1)
    src = Lines(data, 1, full, path)
    skip(src)
    skip(src)
    number, name = src.fixed(80)
    trace.control["poisson_file"] = name.rstrip(" ")
    trace.origins["poisson_file"] = Origin(path, number, name.rstrip(" "))
    for c in name.rstrip(" "):
        if ord(c) < 32 or ord(c) == 127:
            trace.oddities.append(Oddity(path, number, name.rstrip(" "),
                                         f"the table name holds a control character ({c!r}), which is part of the name"))
            break
    for entry in CONTROL_ITEMS:
        names = entry if isinstance(entry, tuple) else (entry,)
        values = [0 if n in INTEGER_ITEMS else 0.0 for n in names]
        for n, v in zip(names, values):
            trace.control[n] = v
        statement = read_list(src, values, [n in INTEGER_ITEMS for n in names])
        for n, v, o in zip(names, values, statement.origins):
            trace.control[n] = v
            trace.origins[n] = o if o is not None else Origin(path, statement.last_line, "")
        trace.oddities += statement.oddities


def _read_header(trace: Trace, src: Lines):
    path = src.display
    while True:
        number, head = src.fixed(100)
        if "Zmin" in head:
            break
    header = trace.header
    for key, names, column, integer in (("A", ("Rmin", "Zmin"), 15, False), ("B", ("Rmax", "Zmax"), 15, False)):
        values = [0.0, 0.0]
        header[key + "_line"] = number
        header[key + "_text"] = head.rstrip(" ")
        statement = read_list(TextRecord(head[column:], number, path), values, [integer] * 2)
        trace.oddities += statement.oddities
        for n, v, o in zip(names, values, statement.origins):
            header[n] = v
            trace.origins[n] = o or Origin(path, number, "")
        number, head = src.fixed(100)
    header["C_line"] = number
    header["C_text"] = head.rstrip(" ")
    values = [0, 0]
    statement = read_list(TextRecord(head[22:], number, path), values, [True, True])
    trace.oddities += statement.oddities
    header["r_intervals"], header["z_intervals"] = values
    for n, o in zip(("r_intervals", "z_intervals"), statement.origins):
        trace.origins[n] = o or Origin(path, number, "")


def map_limits_violation(nr, nz, rmin, rmax, zmin, zmax, kmirror_z) -> str:
    """The converter's rejection of a map it cannot hold or sample, or ""."""
    mirrored = kmirror_z in MIRROR_MODES
    rejected = " Field map rejected: "
    if nr > NR_MAX or nr < 3:
        return rejected + f"Nr = {nr} (allowed 3 .. {NR_MAX})"
    if nz > NZ_MAX:
        return rejected + f"Nz = {nz} (allowed up to {NZ_MAX})"
    if mirrored and nz > NZ_MAX // 2:
        return rejected + f"Nz = {nz} with kmirror_z = {kmirror_z} (allowed up to {NZ_MAX // 2} when mirrored)"
    final_nz = 2 * nz - 1 if mirrored else nz
    if final_nz < 3:
        return rejected + f"final Nz = {final_nz} (at least 3 needed)"
    if not rmax > rmin:
        return rejected + f"Rmax = {shortest_text(rmax)} not above Rmin = {shortest_text(rmin)}"
    if not zmax > zmin:
        return rejected + f"Zmax = {shortest_text(zmax)} not above Zmin = {shortest_text(zmin)} after centring"
    with np.errstate(over="ignore", invalid="ignore"):
        zspan = np.float64(2) * zmax - np.float64(2) * zmin if mirrored else np.float64(zmax) - zmin
        rspan = np.float64(rmax) - rmin
    if not (math.isfinite(rspan) and math.isfinite(zspan)):
        return rejected + (f"R range {shortest_text(rmin)} .. {shortest_text(rmax)} or Z range "
                           f"{shortest_text(zmin)} .. {shortest_text(zmax)} too wide")
    return ""


def _mirror(values, upper_half, negate):
    """The full map from a half; the mirror-plane row keeps the table's values."""
    image = -values if negate else values
    if upper_half:
        return np.concatenate((image[:, :0:-1], values), axis=1)
    return np.concatenate((values, image[:, -2::-1]), axis=1)


def output_name(kfile_num: int) -> str:
    """The output file's name: eh_EMS.# and the number in two digits, ** when it does not fit."""
    return f"eh_EMS.#{kfile_num:02d}" if 0 <= kfile_num <= 99 else "eh_EMS.#**"


def _output_failure(folder, name) -> Optional[ReadFailure]:
    """The failure the converter's output open or write will meet, where it can be told before."""
    target = os.path.join(folder, name)
    path = full_path(folder, name)
    if os.path.isdir(target):
        return ReadFailure(30, 7, path, why="the output name is a folder", system_text=os.strerror(errno.EISDIR))
    if os.path.exists(target):
        if os.path.realpath(target) == "/dev/full":
            return ReadFailure(38, 7, path, why="the output is the full device",
                               system_text=os.strerror(errno.ENOSPC))
        if not os.access(target, os.W_OK):
            return ReadFailure(47 if os.access(target, os.R_OK) else 9, 7, path,
                               why="the existing output file cannot be written")
    elif not os.access(folder, os.W_OK):
        return ReadFailure(9, 7, path, why="the folder does not let the output file be created")
    return None


def trace(control) -> Trace:
    """Follow a conversion through its inputs as the converter would, without writing anything.

    Parameters
    ----------
    control : str or os.PathLike
        The control file, or the folder holding `poisson_to_kavro.dat` (the converter's working
        directory).

    Returns
    -------
    Trace
        Never raises for the content of the inputs: a failure or stop is the trace's outcome.

    Examples
    --------
    >>> trace("examples/lens").outcome.outcome  # doctest: +SKIP
    'ok'
    """
    folder, path = control_location(control)
    t = Trace(control_path=path, folder=folder)
    try:
        _trace(t)
    except ReadFailure as failure:
        t.outcome = Outcome("failure", failure.number, failure.unit, None, failure.report(),
                            Origin(t.table_path if failure.unit in (2, -5) else path, failure.line, failure.text)
                            if failure.line is not None else None, failure.why)
    return t


def _stop(t, message, why, where=None):
    t.outcome = Outcome("stop", None, None, None, [message], where, why)


def _trace(t: Trace):
    _read_control(t)
    c = t.control
    name = c["poisson_file"]
    data, full = read_old(t.folder, open_name(name), 2)
    t.table_path = os.path.join(t.folder, open_name(name))
    src = Lines(data, 2, full, t.table_path)
    t.table_lines = src
    _read_header(t, src)
    h = t.header
    nr, nz = _wrap32(h["r_intervals"] + 1), _wrap32(h["z_intervals"] + 1)
    rmin, rmax, zmin, zmax = h["Rmin"], h["Rmax"], h["Zmin"], h["Zmax"]
    if not zmin == -zmax:
        with np.errstate(over="ignore"):
            zmax = float((np.float64(zmax) - zmin) / 2)
        zmin = -zmax
    h["centred"] = (zmin, zmax)
    for _ in range(3):
        skip(src)
    h["separator_text"] = [src.text(i) for i in range(src.next - 3, src.next)]
    t.first_row_line = src.next + 1
    reader = _Rows(src)
    t.plain_rows = reader.leading_plain()
    if c["iflag_EH"] not in (0, 1):
        return _stop(t, FIELD_TYPE_STOP, f"iflag_EH = {c['iflag_EH']} is neither 0 (E) nor 1 (B)",
                     t.origins["iflag_EH"])
    violation = map_limits_violation(nr, nz, rmin, rmax, zmin, zmax, c["kmirror_z"])
    if violation:
        return _stop(t, violation, violation.strip(), Origin(t.table_path, h["C_line"], h["C_text"]))
    count = max(nr, 0) * max(nz, 0)
    rows, lines, oddities = reader.read(count)
    t.rows, t.row_lines = rows, lines
    t.oddities += oddities
    electric = c["iflag_EH"] == 0
    scale = c["scale_E"] if electric else c["scale_B"]
    with np.errstate(over="ignore", invalid="ignore"):
        radial, axial = (rows[:, col].reshape(nz, nr).T * scale for col in (2, 3))
    mode = c["kmirror_z"]
    if mode in MIRROR_MODES:
        radial_odd = abs(mode) == 2
        radial = _mirror(radial, mode > 0, radial_odd)
        axial = _mirror(axial, mode > 0, not radial_odd)
        nz = 2 * nz - 1
        zmin, zmax = 2 * zmin, 2 * zmax
    with np.errstate(over="ignore", invalid="ignore"):
        dr = (np.float64(rmax) - rmin) / float(nr - 1)
        dz = (np.float64(zmax) - zmin) / float(nz - 1)
        r_node = np.arange(nr, dtype=np.float64) * dr + rmin
        z_node = np.arange(nz, dtype=np.float64) * dz + zmin
    t.inputs = Inputs(t.control_path, dict(c), t.table_path, "E" if electric else "B", rmin, rmax, zmin, zmax,
                      r_node, z_node, np.ascontiguousarray(radial), np.ascontiguousarray(axial))
    axes = output_grid(c)
    for axis in ("x", "y"):
        (lower, upper), nodes = axes[axis]
        with np.errstate(over="ignore", invalid="ignore"):
            step = (np.float64(upper) - lower) / 24.0
        if not math.isfinite(step):
            return _stop(t, f" Output grid rejected: aper = {shortest_text(c['aper'])} gives a grid step that"
                            " is not finite", "aper too large for a grid step", t.origins["aper"])
    name = output_name(c["kfile_num"])
    if c["kform_3D"] not in (0, 1, 2):
        t.outcome = Outcome("stop", None, None, None, [FORMAT_STOP], t.origins["kform_3D"],
                            f"kform_3D = {c['kform_3D']} is none of 0, 1, 2: no output file is written")
        return
    failure = _output_failure(t.folder, name)
    if failure is not None:
        t.outcome = Outcome("failure", failure.number, 7, name, failure.report(), None, failure.why)
        return
    t.outcome = Outcome("ok", None, None, name, [], None, f"writes {name} in layout {c['kform_3D']}")


def read_inputs(control) -> Inputs:
    """The inputs of a conversion, read and prepared exactly as the converter does.

    Parameters
    ----------
    control : str or os.PathLike
        The control file, or the folder holding `poisson_to_kavro.dat`.

    Returns
    -------
    Inputs

    Raises
    ------
    FieldFileError
        When the converter's run would end before its map is sampled (a failure report or a
        stop), saying how.

    Examples
    --------
    >>> inputs = read_inputs("examples/lens")  # doctest: +SKIP
    >>> f_r, f_z = inputs.at([0.0, 0.5], 0.0)  # doctest: +SKIP
    """
    return sampled_trace(control).inputs


def sampled_trace(control) -> Trace:
    """The trace of a conversion that gets as far as sampling its map (a format stop comes after
    the sampling); FieldFileError saying how the run ends before that.

    Examples
    --------
    >>> sampled_trace("examples/lens").inputs.kind  # doctest: +SKIP
    'E'
    """
    t = trace(control)
    if t.inputs is None or t.outcome.outcome == "stop" and t.outcome.stderr != [FORMAT_STOP]:
        raise FieldFileError(t.control_path, describe(t.outcome))
    return t


def describe(outcome: Outcome, where: bool = True) -> str:
    """One line on how the converter's run ends; `where` puts the file and line in front.

    Examples
    --------
    >>> describe(Outcome("ok", output="eh_EMS.#01"))
    'a clean run: the converter writes eh_EMS.#01'
    """
    if outcome.outcome == "ok":
        return f"a clean run: the converter writes {outcome.output}"
    prefix = _location(outcome) if where else ""
    if outcome.outcome == "failure":
        return f"{prefix}{outcome.why}: the converter will stop with runerr {outcome.message} on unit {outcome.unit}"
    return f"{prefix}{outcome.why}: the converter stops with \"{outcome.stderr[0]}\""


def _location(outcome: Outcome) -> str:
    if outcome.where is not None and outcome.where.line:
        label = "table" if outcome.unit in (2, -5) else os.path.basename(outcome.where.file)
        return f"{label} line {outcome.where.line}: "
    if outcome.unit in (2, -5):
        return "table: "
    if outcome.unit == 7:
        return f"output {outcome.output}: "
    return ""
