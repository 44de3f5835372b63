"""`lint`: what the converter will make of a control file and its table, before it runs.

It follows the run through the inputs (`inputs.trace`), tells how the run will end, lists every
control value as the converter takes it, and warns where an input reads as something other than
it looks or makes a map that is not the field: numbers cut at a comma, null values, a header
whose counts do not match its rows or rows written z fastest, a half table mirrored from the
wrong side, off its field's symmetry plane or with the wrong parity, a field kind that contradicts
the table's units, a grid beyond the map, a table or an element that ends while the field is
strong, a mesh too coarse for the 3 x 3 approximation, a control file read a line off, values the
converter takes though they cannot be meant. Each cause is named once, at the line that sets it.
"""

import dataclasses
import os
import re
from typing import Any, Dict, List, Union

import numpy as np

from ..fieldfiles.grid import element_ends
from ..fieldfiles.layouts import LAYOUT_NAMES
from ..findings import INPUTS, Finding, group_by_code, quoted, render
from ..inputs.messages import CONTROL_UNIT, END_OF_FILE, TABLE_UNIT, TABLE_UNITS
from ..inputs.names import output_name
from ..inputs.outcome import describe
from ..inputs.prepared import MIRROR_MODES, output_grid
from ..inputs.trace import Trace, trace
from ..units import scale_name
from ..inputs.nottext import refuse_not_text
from ..inputs.table_units import table_units
from .coverage import reach_findings
from .ends import element_end_cuts, table_end_cuts
from .mesh import approximation_steps_by_axis, coarse_mesh, sampled_peak
from .shape import control_line_count, kfile_num_range, scale_other_kind, symmetry_plane, z_fastest_rows
# Units in the table's column headings that name the field's kind.
_B_UNITS = re.compile(r"[(\[]\s*(T|G|Gauss|gauss|Tesla|tesla|mT|kG)\s*[)\]]")
_E_UNITS = re.compile(r"[(\[]\s*(V/m|V/cm|V/mm|kV/cm|kV/m|kV|MV/m|MV)\s*[)\]]")
# The rows' own r and z against the header's mesh: a departure beyond this share of a step
# (or 1e-6 of the coordinate, the digits a table carries) is a miscount, not rounding.
COORDINATE_TOLERANCE = 1e-2
# Row oddities told one by one; the rest of the same kind are counted.
ROW_ODDITIES_SHOWN = 3


def _at(t, name):
    origin = t.origins.get(name)
    return (origin.file, origin.line, origin.text) if origin else (t.control_path, None, None)


def _warn(t, code, name, message):
    file, line, text = _at(t, name)
    return Finding(code, message, file, line, text, scope=INPUTS)


def _placed(t, finding, file, line):
    """A detector's finding as a warning of the inputs at `file`'s line `line`, with its text."""
    line = finding.line if finding.line is not None else line
    if file == t.table_path and line:
        text = t.row_text(line)
    elif file == t.control_path and line:
        lines = _control_lines(t)
        text = lines[line - 1].strip() if line <= len(lines) else None
    else:
        text = None
    return dataclasses.replace(finding, file=file, line=line, text=text or None, scope=INPUTS)


def _control_lines(t):
    """The control file's lines as written (its first megabyte: twelve lines are all it holds)."""
    try:
        with open(t.control_path, "rb") as control:
            return control.read(1 << 20).decode("latin-1").splitlines()
    except OSError:
        return []


def shifted_control_warnings(t: Trace) -> List[Finding]:
    """A control file with a line missing or one too many: every value after it is another's, so
    this one warning stands for all the others."""
    return [_placed(t, found, t.control_path, None) for found in control_line_count(_control_lines(t))]


def value_lines(t: Trace) -> List[str]:
    """Every control value as the converter takes it, one line each."""
    c = t.control
    lines = []

    def line(name, text):
        origin = t.origins.get(name)
        where = f" ({os.path.basename(origin.file)} line {origin.line}: {quoted(origin.text)})" if origin and origin.line else ""
        lines.append(f"{name:<13} {text}{where}")

    if "poisson_file" in c:
        line("poisson_file", quoted(c["poisson_file"]))
    if "iflag_EH" in c:
        kind = {0: "the table is an electric field E (scale_E applies)",
                1: "the table is a magnetic field B (scale_B applies)"}.get(c["iflag_EH"], "neither E nor B: the run stops")
        line("iflag_EH", f"{c['iflag_EH']}: {kind}")
    if "kmirror_z" in c:
        line("kmirror_z", f"{c['kmirror_z']}: {mirror_text(c['kmirror_z'])}")
    if "kfile_num" in c:
        line("kfile_num", f"{c['kfile_num']}: the output file is {output_name(c['kfile_num'])}")
    if "kform_3D" in c:
        line("kform_3D", f"{c['kform_3D']}: " + (f"layout {c['kform_3D']} ({LAYOUT_NAMES[c['kform_3D']]})"
                                                 if c["kform_3D"] in LAYOUT_NAMES else "no layout: the run stops"))
    for axis in "xyz":
        name = f"ksym_{axis}"
        if name in c:
            half = "aper" if axis != "z" else "d_elm / 2"
            line(name, f"{c[name]}: {axis} from " + ("0" if c[name] != 0 else f"-{half}") + f" to {half}")
    if "d_elm" in c:
        line("d_elm", f"{c['d_elm']!r}: the element runs over z from {-(c['d_elm'] / 2)!r} to {c['d_elm'] / 2!r}")
    if "aper" in c:
        line("aper", f"{c['aper']!r}: x and y from {-c['aper']!r} to {c['aper']!r}")
    for name, flag in (("scale_E", 0), ("scale_B", 1)):
        if name in c:
            used = c.get("iflag_EH") == flag
            line(name, f"{c[name]!r}: " + ("multiplies every value of the table" if used else "not used"))
    if "A_line" in t.header:
        # The converter reads only the numbers; the units around them are what its values mean.
        line("units", table_units(t).describe())
    return lines


def mirror_text(mode):
    """What a mirror mode does."""
    if mode not in MIRROR_MODES:
        return "no mirroring: the table is the whole element"
    half = "z >= 0 (its first row on the mirror plane)" if mode > 0 else "z <= 0 (its last row on the mirror plane)"
    odd = "the axial component odd in z, the radial even" if abs(mode) == 1 else "the radial component odd in z, the axial even"
    return f"the table is the half {half}, mirrored to the whole element: {odd}"


def oddity_warnings(t: Trace) -> List[Finding]:
    """The reads that take an input as something other than it looks; in the table's rows the
    first few of each kind, and how many more."""
    first_row = t.first_row_line
    in_rows = [first_row is not None and odd.file == t.table_path and odd.line is not None and odd.line >= first_row
               for odd in t.oddities]
    groups = group_by_code(odd for odd, row in zip(t.oddities, in_rows) if row)
    shown = {id(odd) for group in groups.values() for odd in group[:ROW_ODDITIES_SHOWN]}
    out = [odd for odd, row in zip(t.oddities, in_rows) if not row or id(odd) in shown]
    for code, group in groups.items():
        if len(group) > ROW_ODDITIES_SHOWN:
            more = len(group) - ROW_ODDITIES_SHOWN
            out.append(Finding(code + ".more", f"{more} more table rows read with the same oddity:"
                                               f" {group[0].data['kind']}", t.table_path, scope=INPUTS,
                               data={"count": more, "kind": group[0].data["kind"]}))
    return out


def control_warnings(t: Trace) -> List[Finding]:
    """Values that are readable and yet most likely not meant."""
    c, out = t.control, []
    if "kmirror_z" in c and c["kmirror_z"] not in MIRROR_MODES + (0,):
        out.append(_warn(t, "control.mirror-mode", "kmirror_z", f"kmirror_z = {c['kmirror_z']} is none of 1, -1, 2, -2: no mirroring"))
    for name in ("d_elm", "aper"):
        if name in c and not c[name] > 0:
            span = "z" if name == "d_elm" else "x and y"
            out.append(_warn(t, f"control.{name}", name, f"{name} = {c[name]!r}: " + (
                "every node of the grid lies on one point" if c[name] == 0 and name == "d_elm" else
                "every node lies on the axis" if c[name] == 0 else
                f"the grid runs backwards in {span}, from {-(c[name] / 2 if name == 'd_elm' else c[name])!r}"
                f" to {c[name] / 2 if name == 'd_elm' else c[name]!r}")))
    scale = scale_name(c.get("iflag_EH"))
    if scale in c and c[scale] == 0:
        out.append(_warn(t, "control.scale-zero", scale, f"{scale} = 0: the whole field comes out zero"))
    if "kfile_num" in c:
        out += [_placed(t, found, *_at(t, "kfile_num")[:2]) for found in kfile_num_range(c["kfile_num"])]
    if "scale_B" in c:
        out += [_placed(t, found, *_at(t, found.data["name"])[:2]) for found in scale_other_kind(c["iflag_EH"], c)]
    return out


def kind_warnings(t: Trace) -> List[Finding]:
    """A field kind that the table's column headings contradict by their units."""
    texts = t.header.get("separator_text", [])
    kind = t.control.get("iflag_EH")
    if not t.first_row_line:
        return []
    first = t.first_row_line - 3
    for n, text in enumerate(texts):
        b, e = _B_UNITS.search(text), _E_UNITS.search(text)
        if kind == 0 and b and not e:
            return [Finding("kind.units", f"the columns are in {b.group(1)}, a magnetic unit, but iflag_EH = 0 reads"
                            " the table as E", t.table_path, first + n, text.strip(), scope=INPUTS)]
        if kind == 1 and e and not b:
            return [Finding("kind.units", f"the columns are in {e.group(1)}, an electric unit, but iflag_EH = 1 reads"
                            " the table as B", t.table_path, first + n, text.strip(), scope=INPUTS)]
    return []


def table_warnings(t: Trace) -> List[Finding]:
    """The rows' own r and z against the mesh the header declares, and what a miscount does."""
    h = t.header
    if "r_intervals" not in h or t.first_row_line is None:
        return []
    nr, nz = h["r_intervals"] + 1, h["z_intervals"] + 1
    header = dict(file=t.table_path, line=h["C_line"], text=h["C_text"].strip(), scope=INPUTS)
    available = t.plain_rows or 0
    if t.rows is None:
        if t.outcome.message == END_OF_FILE and t.outcome.unit == TABLE_UNIT and nr > 0 and nz > 0 and available < nr * nz:
            return [Finding("table.rows-missing", f"rows missing: the header declares {nr} x {nz} = {nr * nz} rows,"
                                                  f" the table holds {available}", **header)]
        return []
    rows, lines = t.rows, t.row_lines
    assert lines is not None  # read together with the rows
    dr = (h["Rmax"] - h["Rmin"]) / (nr - 1)
    dz = (h["Zmax"] - h["Zmin"]) / (nz - 1)
    index = np.arange(len(rows))
    expect_r = (index % nr) * dr + h["Rmin"]
    expect_z = (index // nr) * dz + h["Zmin"]
    tol_r = COORDINATE_TOLERANCE * abs(dr) + 1e-6 * max(abs(h["Rmin"]), abs(h["Rmax"]))
    tol_z = COORDINATE_TOLERANCE * abs(dz) + 1e-6 * max(abs(h["Zmin"]), abs(h["Zmax"]))
    off = (np.abs(rows[:, 0] - expect_r) > tol_r) | (np.abs(rows[:, 1] - expect_z) > tol_z)
    out = []
    if off.any():
        order = z_fastest_rows(rows[:, 0], rows[:, 1], nr, nz, t.first_row_line)
        if order:
            # The rows' order, not the header's counts: the coordinates tell it.
            return [_placed(t, order[0], t.table_path, None)]
        n = int(np.argmax(off))
        what = (f"row {n + 1} departs from the header's mesh: expected r = {expect_r[n]:.6g}, z = {expect_z[n]:.6g},"
                f" found r = {rows[n, 0]:.6g}, z = {rows[n, 1]:.6g}")
        # The rows' own count along r: the rows before z first changes.
        changes = np.flatnonzero(np.abs(rows[:, 1] - rows[0, 1]) > tol_z)
        per_z = int(changes[0]) if changes.size else len(rows)
        code, data = "table.mesh", {"row": n + 1}
        if per_z != nr and changes.size:
            code, data["rows_per_z"] = "table.r-count", per_z
            what += (f"; the rows change z every {per_z} rows, the header's {h['r_intervals']} intervals along r"
                     f" make {nr}: the map's r is scrambled (every z row takes {nr} values)")
        elif available > len(rows) and available % nr == 0:
            actual = available // nr
            code, data["z_stretch"] = "table.z-count", (actual - 1) / (nz - 1) - 1
            what += (f"; the table holds {actual} z rows, the header's {h['z_intervals']} intervals along z make {nz}:"
                     f" the last {available - len(rows)} rows are dropped and z is stretched by"
                     f" {(actual - 1) / (nz - 1) - 1:.2%}")
        out.append(Finding(code, what, t.table_path, int(lines[n]), t.row_text(int(lines[n])),
                           scope=INPUTS, data=data))
    elif available > len(rows) and available % nr == 0 and nr * (nz + 1) <= available:
        out.append(Finding("table.extra-rows", f"the table holds {available} rows of numbers, the header's counts"
                                               f" make {len(rows)}: the last {available - len(rows)} are not read",
                           **header))
    return out


def mirror_warnings(t: Trace) -> List[Finding]:
    """A half table on the wrong side for its mirror mode, off its field's own symmetry plane, or of the
    wrong parity for its field."""
    mode, h = t.control.get("kmirror_z"), t.header
    if mode not in MIRROR_MODES or "r_intervals" not in h:
        return []
    out = []
    zmin, zmax = h["Zmin"], h["Zmax"]
    rows, row_lines = t.rows, t.row_lines
    if rows is not None:
        nr = h["r_intervals"] + 1
        plane = slice(0, nr) if mode > 0 else slice(len(rows) - nr, len(rows))
    if (mode > 0 and zmax <= 0 < zmax - zmin) or (mode < 0 and zmin >= 0 and zmax > zmin):
        far, side, right = (zmin, "z >= 0", -mode) if mode > 0 else (zmax, "z <= 0", -mode)
        out.append(Finding("mirror.side", f"the table covers z from {zmin:.6g} to {zmax:.6g}, but kmirror_z = {mode} takes it as the"
                           f" half {side}: the row at z = {far:.6g}, the table's far end, lands on the mirror plane"
                           f" and the element comes out split; kmirror_z = {right} fits this half",
                           t.table_path, h["A_line"], h["A_text"].strip(), scope=INPUTS))
    if rows is not None and row_lines is not None and nr > 0 and len(rows) % nr == 0:
        nz = len(rows) // nr
        radial, axial = (rows[:, column].reshape(nz, nr).T for column in (2, 3))
        z = np.linspace(zmin, zmax, nz)
        length = table_units(t).length
        out += [_placed(t, found, t.table_path, int(row_lines[plane][0]))
                for found in symmetry_plane(radial, axial, z, mode, length_unit=length.unit if length else "")]
    return out


def grid_warnings(t: Trace) -> List[Finding]:
    """The grid against the map: nodes beyond it, and the fringe field the element cuts off."""
    inputs = t.inputs
    if inputs is None:
        return []
    axes = output_grid(t.control)
    x, y, z = (axes[a][1] for a in "xyz")
    out = [Finding(code, "the grid against the map: " + text, t.control_path, scope=INPUTS, data=data)
           for code, text, data in reach_findings(inputs.r_node, inputs.z_node, x, y, z, axes["z"][0][0])]
    table_cuts = table_end_cuts(inputs.r_node, inputs.z_node, inputs.radial, inputs.axial)
    for found in table_cuts:
        lower = any(z < inputs.z_node[-1] for z, _, _ in found.data["ends"])
        line = t.header.get("A_line" if lower else "B_line")
        out.append(_placed(t, found, t.table_path, line))
    # Beyond an element end on the side of a cut table end the table is the cause: a longer
    # element reaches no further than the table does.
    middle = 0.5 * (inputs.z_node[0] + inputs.z_node[-1])
    cut_sides = {z > middle for found in table_cuts for z, _, _ in found.data["ends"]}
    ends = [z[k] for k in element_ends(len(z), t.control["ksym_z"])]
    out += [_placed(t, found, *_at(t, "d_elm")[:2]) for found in element_end_cuts(inputs.r_node, inputs.z_node,
                                                                                   inputs.axial, ends)
            if (found.data["end"] > middle) not in cut_sides]
    return out


def _axis_profile(t: Trace):
    """(z, on-axis F_z) the converter samples on the grid's z nodes, or None where the map does
    not reach the axis."""
    inputs = t.inputs
    if inputs is None or not inputs.r_node[0] <= 0.0 <= inputs.r_node[-1]:
        return None
    z = output_grid(t.control)["z"][1]
    return z, inputs.at(0.0, z)[1]


def mesh_warnings(t: Trace) -> List[Finding]:
    """A table mesh too coarse for the 3 x 3 approximation, at the header line of its counts."""
    inputs, h = t.inputs, t.header
    if inputs is None:
        return []
    steps = approximation_steps_by_axis(inputs, inputs.grid())
    mirrored = t.control.get("kmirror_z") in MIRROR_MODES
    return [_placed(t, found, t.table_path, h.get("C_line"))
            for found in coarse_mesh(steps, sampled_peak(inputs), h["r_intervals"], h["z_intervals"], mirrored)]


def finite_warnings(t: Trace) -> List[Finding]:
    """Map values that the scale turns into Inf (or NaN): the file will hold them."""
    if t.inputs is None:
        return []
    bad = ~np.isfinite(t.inputs.radial) | ~np.isfinite(t.inputs.axial)
    if not bad.any():
        return []
    scale = scale_name(t.control["iflag_EH"]) or "scale_B"
    return [_warn(t, "finite.map", scale, f"{int(bad.sum())} map nodes are Inf or NaN after scaling by {scale} ="
                            f" {t.control[scale]!r}: the output file will hold them")]


def ends_line(t: Trace) -> List[str]:
    """The on-axis field at the element's ends as a share of its peak over the element."""
    profile = _axis_profile(t)
    if profile is None:
        return []
    z, axial = profile
    finite = np.isfinite(axial)
    if not finite.any() or not np.abs(axial[finite]).max() > 0:
        return []
    peak = int(np.argmax(np.where(finite, np.abs(axial), -1.0)))
    ends = element_ends(len(z), t.control["ksym_z"])
    shares = " and ".join(f"{abs(axial[k]) / abs(axial[peak]):.1%} at z = {z[k]:.6g}" for k in ends)
    return [f"{'element ends':<13} the on-axis field is {shares} of its peak {axial[peak]:.6g} (z = {z[peak]:.6g})"]


def map_warnings(t: Trace, with_oddities: bool = False) -> List[Finding]:
    """The warnings about the map the converter makes (those `check --control` reports too, with
    the oddities of the control file)."""
    oddities = [w for w in oddity_warnings(t) if w.file == t.control_path] if with_oddities else []
    shape = table_warnings(t) + mirror_warnings(t)
    out = oddities + kind_warnings(t) + shape
    if any(w.code == "table.z-fastest" for w in shape):
        return out  # a scrambled map: its ends and its mesh are the order's
    # A table that departs from its header or its mirror mode makes the steps a mesh would.
    return out + grid_warnings(t) + ([] if shape else mesh_warnings(t)) + finite_warnings(t)


def lint(control: Union[str, "os.PathLike[str]"]) -> Dict[str, Any]:
    """What the converter will do with a control file and its table, and what to look at.

    Parameters
    ----------
    control : str or os.PathLike
        The control file or the folder holding `poisson_to_kavro.dat`.

    Returns
    -------
    dict
        converter ({outcome, message, unit, output, text}), control (values by name), warnings
        (list of Finding), unreadable (the control file itself cannot be read) and the trace.

    Examples
    --------
    >>> report = lint(example)
    >>> report["converter"]["outcome"], report["warnings"]
    ('ok', [])
    """
    t = trace(control)
    refuse_not_text(t)
    o = t.outcome
    warnings = shifted_control_warnings(t) or (oddity_warnings(t) + control_warnings(t) + map_warnings(t))
    if o.outcome != "ok":
        where = o.where
        warnings.insert(0, Finding(f"run.{o.outcome}", describe(o, where=where is None),
                                   where.file if where else (t.table_path if o.unit in TABLE_UNITS else t.control_path),
                                   where.line if where else None, where.text if where else None, scope=INPUTS,
                                   data={"message": o.message, "unit": o.unit}))
    return {
        "converter": {"outcome": o.outcome, "message": o.message, "unit": o.unit, "output": o.output,
                      "text": "\n".join(o.stderr) if o.stderr else None},
        "control": dict(t.control),
        "warnings": warnings,
        "unreadable": o.outcome == "failure" and o.unit == CONTROL_UNIT,
        "trace": t,
    }


def lint_lines(report: Dict[str, Any]) -> List[str]:
    """The report as `lint` prints it: how the run ends, the control values, the element's ends,
    the warnings and their count.

    Examples
    --------
    >>> print("\\n".join(lint_lines(lint(example))[-2:]))
    element ends  the on-axis field is 0.8% at z = -8 and 0.8% at z = 8 of its peak -236.445 (z = -1.92)
    examples/lens/poisson_to_kavro.dat: no warnings
    """
    t, warnings = report["trace"], report["warnings"]
    return ([f"converter: {describe(t.outcome)}"] + value_lines(t) + ends_line(t)
            + [render(w, inputs_tag="warning") for w in warnings]
            + [f"{t.control_path}: " + (f"{len(warnings)} warning{'s' if len(warnings) > 1 else ''}"
                                        if warnings else "no warnings")])
