"""The inputs of a conversion read exactly as the converter reads them: the control file, the
Poisson table, the map prepared from it (centred, mirrored, scaled) and the field the converter
samples from it on its output grid.

`trace` follows a conversion up to the output file and says how the converter's run will end (a
clean run, a failure report or a stop), with everything read on the way; `read_inputs` gives the
prepared map of a run that gets that far.
"""

import math
import os
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Union

import numpy as np

from ..errors import DamagedFileError, UnreadableInputError
from .files import output_failure, read_old
from ..findings import INPUTS, Finding
from .listread import Lines, Origin, ReadFailure, TextRecord, read_list, skip
from ..fieldfiles.grid import node_coordinates, node_step
from ..units import FIELD_KINDS, SCALE_NAMES
from .messages import CONTROL_UNIT, OPEN_AND_READ_FAILURES, OUTPUT_UNIT, TABLE_UNIT, TABLE_UNITS
from .names import control_location, open_name, output_name, shortest_text
from .outcome import Outcome, describe
from .rows import TableRows
from .prepared import MIRROR_MODES, Inputs, map_limits_violation, mirror, output_grid

CONTROL_ITEMS = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", ("ksym_x", "ksym_y", "ksym_z"),
                 "d_elm", "aper", "scale_E", "scale_B")
INTEGER_ITEMS = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", "ksym_x", "ksym_y", "ksym_z")
FIELD_TYPE_STOP = " Not a valid Field Type (iflag_EH) "
FORMAT_STOP = " Not a valid KAVRO 3D field format: use 0, 1 or 2 "


def _wrap32(v):
    return (v + 2 ** 31) % 2 ** 32 - 2 ** 31


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
    oddities : list of Finding
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
    outcome: Outcome = field(default_factory=lambda: Outcome("ok"))
    control: Dict[str, Any] = field(default_factory=dict)
    origins: Dict[str, Origin] = field(default_factory=dict)
    oddities: List[Finding] = field(default_factory=list)
    table_path: Optional[str] = None
    table_lines: Optional[Lines] = None
    header: Dict[str, Any] = field(default_factory=dict)
    first_row_line: Optional[int] = None
    rows: Optional[np.ndarray] = None
    row_lines: Optional[np.ndarray] = None
    plain_rows: Optional[int] = None
    inputs: Optional[Inputs] = None

    def row_text(self, line: int) -> str:
        """The table's line `line` (from 1) as written, without the blanks around it."""
        return self.table_lines.text(line - 1).strip() if self.table_lines is not None else ""



def _read_control(trace: Trace):
    folder, path = trace.folder, trace.control_path
    data, full = read_old(folder, os.path.basename(path), CONTROL_UNIT)
    src = Lines(data, CONTROL_UNIT, full, path)
    skip(src)
    skip(src)
    number, name = src.fixed(80)
    trace.control["poisson_file"] = name.rstrip(" ")
    trace.origins["poisson_file"] = Origin(path, number, name.rstrip(" "))
    for c in name.rstrip(" "):
        if ord(c) < 32 or ord(c) == 127:
            trace.oddities.append(Finding("oddity.control-character", f"the table name holds a control character ({c!r}), which"
                                         " is part of the name", path, number, name.rstrip(" "), scope=INPUTS,
                                         data={"kind": "the table name holds a control character"}))
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



def trace(control: Union[str, "os.PathLike[str]"]) -> Trace:
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
    >>> trace(example).outcome.outcome
    'ok'
    """
    folder, path = control_location(control)
    t = Trace(control_path=path, folder=folder)
    try:
        _trace(t)
    except ReadFailure as failure:
        t.outcome = Outcome("failure", failure.number, failure.unit, None, failure.report(),
                            Origin((t.table_path or path) if failure.unit in TABLE_UNITS else path, failure.line, failure.text)
                            if failure.line is not None else None, failure.why)
    return t


def _stop(t, message, why, where=None):
    t.outcome = Outcome("stop", None, None, None, [message], where, why)


def _trace(t: Trace):
    _read_control(t)
    c = t.control
    name = c["poisson_file"]
    data, full = read_old(t.folder, open_name(name), TABLE_UNIT)
    t.table_path = os.path.join(t.folder, open_name(name))
    src = Lines(data, TABLE_UNIT, full, t.table_path)
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
    reader = TableRows(src)
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
    kind = FIELD_KINDS[c["iflag_EH"]]
    scale = c[SCALE_NAMES[c["iflag_EH"]]]
    with np.errstate(over="ignore", invalid="ignore"):
        radial, axial = (rows[:, col].reshape(nz, nr).T * scale for col in (2, 3))
    mode = c["kmirror_z"]
    if mode in MIRROR_MODES:
        radial_odd = abs(mode) == 2
        radial = mirror(radial, mode > 0, radial_odd)
        axial = mirror(axial, mode > 0, not radial_odd)
        nz = 2 * nz - 1
        zmin, zmax = 2 * zmin, 2 * zmax
    with np.errstate(over="ignore", invalid="ignore"):
        r_node = node_coordinates(rmin, rmax, nr)
        z_node = node_coordinates(zmin, zmax, nz)
    t.inputs = Inputs(t.control_path, dict(c), t.table_path, kind, rmin, rmax, zmin, zmax,
                      r_node, z_node, np.ascontiguousarray(radial), np.ascontiguousarray(axial))
    axes = output_grid(c)
    for axis in ("x", "y"):
        (lower, upper), nodes = axes[axis]
        if not math.isfinite(node_step(lower, upper, len(nodes))):
            return _stop(t, f" Output grid rejected: aper = {shortest_text(c['aper'])} gives a grid step that"
                            " is not finite", "aper too large for a grid step", t.origins["aper"])
    name = output_name(c["kfile_num"])
    if c["kform_3D"] not in (0, 1, 2):
        t.outcome = Outcome("stop", None, None, None, [FORMAT_STOP], t.origins["kform_3D"],
                            f"kform_3D = {c['kform_3D']} is none of 0, 1, 2: no output file is written")
        return
    failure = output_failure(t.folder, name)
    if failure is not None:
        t.outcome = Outcome("failure", failure.number, OUTPUT_UNIT, name, failure.report(), None, failure.why)
        return
    t.outcome = Outcome("ok", None, None, name, [], None, f"writes {name} in layout {c['kform_3D']}")


def read_inputs(control: Union[str, "os.PathLike[str]"]) -> Inputs:
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
    UnreadableInputError or DamagedFileError
        When the converter's run would end before its map is sampled (a failure report or a
        stop), saying how.

    Examples
    --------
    >>> inputs = read_inputs(example)
    >>> f_r, f_z = inputs.at([0.0, 0.5], 0.0)
    """
    inputs = sampled_trace(control).inputs
    assert inputs is not None  # a trace that gets as far as the sampling holds its map
    return inputs


def sampled_trace(control: Union[str, "os.PathLike[str]", Trace]) -> Trace:
    """The trace of a conversion that gets as far as sampling its map (a format stop comes after
    the sampling); UnreadableInputError or DamagedFileError saying how the run ends before that.
    `control` is the control file, its folder, or its trace already made (not read again).

    Examples
    --------
    >>> sampled_trace(example).inputs.kind
    'E'
    """
    t = control if isinstance(control, Trace) else trace(control)
    if t.inputs is None or t.outcome.outcome == "stop" and t.outcome.stderr != [FORMAT_STOP]:
        refused = t.outcome.outcome == "failure" and t.outcome.message in OPEN_AND_READ_FAILURES
        raise (UnreadableInputError if refused else DamagedFileError)(t.control_path, describe(t.outcome))
    return t
