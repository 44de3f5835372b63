"""The shape of a conversion's inputs, told from the inputs themselves: a control file with a
line missing or one too many (from the shape of its values), table rows in z-fastest order (from
their coordinates), a half table against its field's own symmetry plane, and control values the
converter takes without complaint though they cannot be meant (a kfile_num beyond two digits, a
scale for the other field kind).
"""

import re
from typing import List, Mapping, Optional, Sequence

import numpy as np

from ..findings import Finding
from ..inputs.names import output_name
from ..units import field_kind, scale_name
from .coverage import FRINGE_SHARE
from .ends import WALL_SHARE

# A symmetry plane is looked for within this share of the table's length from the mirrored row.
PLANE_SEARCH_SHARE = 0.25


def z_fastest_rows(r_column, z_column, nr: int, nz: int, first_line: Optional[int] = None) -> List[Finding]:
    """Rows written with z varying fastest, told from the rows' own coordinates: z changes from
    each row to the next and r stays for a run of rows, where the converter reads r fastest.

    Parameters
    ----------
    r_column, z_column : numpy.ndarray
        The first two numbers of each row, in the order read.
    nr, nz : int
        The header's node counts.
    first_line : int, optional
        The table line of the first row.

    Examples
    --------
    >>> r, z = np.meshgrid(np.linspace(0, 1, 3), np.linspace(0, 2, 5), indexing="ij")
    >>> [d.code for d in z_fastest_rows(r.ravel(), z.ravel(), 3, 5)]
    ['table.z-fastest']
    >>> z_fastest_rows(r.T.ravel(), z.T.ravel(), 3, 5)
    []
    """
    r_column, z_column = np.asarray(r_column, dtype=float), np.asarray(z_column, dtype=float)
    if len(r_column) < 3 or nr < 2 or nz < 2:
        return []
    r_changes = np.flatnonzero(r_column[1:] != r_column[0])
    r_run = int(r_changes[0]) + 1 if r_changes.size else len(r_column)
    z_moves = bool(np.all(z_column[1:min(r_run, len(z_column))] != z_column[:min(r_run, len(z_column)) - 1]))
    if r_run < 2 or not z_moves:
        return []
    return [Finding("table.z-fastest",
                      "rows run with z fastest; the converter reads r fastest: write the table r fastest",
                      line=first_line, value=float(r_run),
                      data={"r_run": r_run, "nz": int(nz), "nr": int(nr)})]


def _zero_crossing(values: np.ndarray, z: np.ndarray, start: int, step: int, limit: int, tolerance: float):
    """The z nearest `start` (going by `step`, at most `limit` rows) where `values` passes 0,
    linearly between rows; None when it does not within the limit."""
    if abs(values[start]) <= tolerance:
        return float(z[start])
    sign = np.sign(values[start])
    k = start
    for _ in range(limit):
        nxt = k + step
        if not 0 <= nxt < len(values):
            return None
        if np.sign(values[nxt]) != sign or values[nxt] == 0.0:
            a, b = values[k], values[nxt]
            return float(z[k] + (z[nxt] - z[k]) * (a / (a - b)))
        k = nxt
    return None


def symmetry_plane(radial, axial, z, kmirror_z: int, line: Optional[int] = None,
                   length_unit: str = "") -> List[Finding]:
    """A half table against its field's own symmetry plane: where the odd component vanishes
    nearest the row the converter mirrors about (the first row for kmirror_z 1 and 2, the last
    for -1 and -2).

    Off that row, the offset is named ("mirror.plane-offset"); on it, the parity of the mode is
    judged ("mirror.parity" where the mode makes the other component odd); nothing else.

    Parameters
    ----------
    radial, axial : numpy.ndarray
        The table's columns as read, shape (Nr, Nz) (column r, row z; the axis first).
    z : numpy.ndarray
        The rows' z from the header's limits.
    kmirror_z : int
    line : int, optional
        The table line of the mirrored row.
    length_unit : str
        The length unit the table's header states ("cm"), or "".

    Examples
    --------
    >>> z = np.linspace(0.0, 3.0, 61); r = np.linspace(0.0, 1.0, 5)[:, None]
    >>> br, bz = r * np.sin(z - 0.3), np.cos(z - 0.3) + 0 * r
    >>> d = symmetry_plane(br, bz, z, 2)[0]
    >>> d.code, round(d.value, 3)
    ('mirror.plane-offset', 0.3)
    >>> br, bz = r * np.sin(z), np.cos(z) + 0 * r
    >>> symmetry_plane(br, bz, z, 2), [d.code for d in symmetry_plane(br, bz, z, 1)]
    ([], ['mirror.parity'])
    """
    if kmirror_z not in (1, -1, 2, -2):
        return []
    radial, axial, z = (np.asarray(a, dtype=float) for a in (radial, axial, z))
    nz = radial.shape[1]
    if nz < 3:
        return []
    start, step = (0, 1) if kmirror_z > 0 else (nz - 1, -1)
    limit = max(1, int(PLANE_SEARCH_SHARE * (nz - 1)))
    with np.errstate(invalid="ignore", over="ignore"):
        magnitude = np.sqrt(radial * radial + axial * axial)
    finite = np.isfinite(magnitude)
    if not finite.any() or not np.max(magnitude[finite]) > 0.0:
        return []
    # Where the field has died out on the mirrored row (a far end mirrored, the wrong side's
    # mistake), no symmetry of it can be told there.
    if not np.max(np.where(finite[:, start], magnitude[:, start], 0.0)) > FRINGE_SHARE * np.max(magnitude[finite]):
        return []
    candidates = []
    for name, values in (("radial", radial), ("axial", axial)):
        finite = np.isfinite(values)
        if not finite.any():
            continue
        magnitude = np.where(finite, np.abs(values), 0.0)
        peak = float(magnitude.max())
        if not peak > 0.0:
            continue
        column = values[int(np.argmax(magnitude.max(axis=1))), :] if name == "radial" else values[0, :]
        column_peak = float(np.max(np.abs(column[np.isfinite(column)])))
        plane = _zero_crossing(column, z, start, step, limit, WALL_SHARE * column_peak)
        if plane is not None:
            candidates.append((abs(plane - z[start]), plane, name))
    if not candidates:
        return []
    offset, plane, name = min(candidates)
    odd = "axial" if abs(kmirror_z) == 1 else "radial"
    row_tolerance = 1e-6 * abs(float(z[1] - z[0]))
    if offset > row_tolerance:
        return [Finding(
            "mirror.plane-offset",
            f"the field's own symmetry plane, where the {name} component vanishes, lies {offset:.3g}{' ' + length_unit if length_unit else ''} inside the"
            " table, not on the row the converter mirrors about: start the table there",
            line=line, value=offset, data={"offset": offset, "plane": plane, "row": float(z[start]),
                                           "component": name})]
    if name != odd:
        right = (1 if kmirror_z > 0 else -1) * (2 if name == "radial" else 1)
        return [Finding(
            "mirror.parity",
            f"the field's symmetry plane is the mirrored row, where its {name} component vanishes, but kmirror_z ="
            f" {kmirror_z} makes the {odd} component odd: wrong parity for this field; kmirror_z = {right} fits it",
            line=line, value=0.0, data={"component": name, "kmirror_z": right})]
    return []


CONTROL_LINES = 12
# What each line of the control file holds: free text, the table's name, values.
_LINE_ROLES = ("free text", "free text", "table name", "iflag_EH", "kmirror_z", "kfile_num", "kform_3D",
               "ksym_x ksym_y ksym_z", "d_elm", "aper", "scale_E", "scale_B")
_SHAPES = ("any", "any", "name", "int", "int", "int", "int", "int3", "real", "real", "real", "real")
_ITEM_NAMES = ("iflag_EH", "kmirror_z", "kfile_num", "kform_3D", "ksym", "d_elm", "aper", "scale_E", "scale_B")
_INTEGER = re.compile(r"[+-]?\d+$")
_REAL = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eEdDqQ][+-]?\d+)?$")


def _line_shape(text: str):
    """(shape, label) of a control line: "int3", "int", "real", "text" or "blank", and the
    control item its remark names, if any."""
    tokens = [t for t in re.split(r"[\s,]+", text.strip()) if t]
    if not tokens:
        return "blank", None
    integers = 0
    for t in tokens[:3]:
        if not _INTEGER.match(t):
            break
        integers += 1
    label = next((name for name in _ITEM_NAMES for t in tokens if t.startswith(name)), None)
    if integers == 3:
        return "int3", label
    if integers >= 1:
        return "int", label
    if _REAL.match(tokens[0]):
        return "real", label
    return "text", label


def _fits(shape, label, expected, index):
    if expected == "any":
        return 0
    if expected == "name":
        return 0 if shape == "text" else 1
    cost = 0
    if not (shape == expected or (expected == "real" and shape == "int")):
        cost += 1
    item = _LINE_ROLES[index]
    if label is not None and not item.startswith(label):
        cost += 1
    return cost


def _alignment_cost(shapes, roles):
    return sum(_fits(shape, label, _SHAPES[role], role) for (shape, label), role in zip(shapes, roles))


def control_line_count(lines: Sequence[str]) -> List[Finding]:
    """A control file with a line missing or one too many, told from the shape of its values
    (a name, four integers, three integers, four reals) and the item names of their remarks.

    Parameters
    ----------
    lines : sequence of str
        The control file's lines, without their line ends.

    Returns
    -------
    list of Finding
        Code "control.line-missing" or "control.line-extra"; data: the line (from 1) that seems
        missing or extra, its role, and the other lines the same shift would fit.

    Examples
    --------
    >>> good = ["title", "", "table.txt", "0 iflag_EH", "1 kmirror_z", "1 kfile_num", "0 kform_3D",
    ...         "0 0 0", "7.6", "1.3", "1000.0", "1.0"]
    >>> control_line_count(good)
    []
    >>> d = control_line_count(good[:1] + good[2:])[0]
    >>> d.code, d.message
    ('control.line-missing', '11 lines where 12 are expected: line 2 (free text) seems missing, so every value is read one line early')
    >>> [d.code for d in control_line_count(good[:4] + ["0 iflag_EH"] + good[4:])]
    ['control.line-extra']
    """
    lines = list(lines)
    while lines and not lines[-1].strip():
        lines.pop()
    head, rest = lines[:3], lines[3:]
    # A blank line among the values is passed over by the reads: it shifts nothing.
    values = [text for text in rest if text.strip()]
    shapes = [_line_shape(text) for text in head + values]
    usable = shapes[:CONTROL_LINES + 1]
    identity = _alignment_cost(usable[:CONTROL_LINES], range(min(len(usable), CONTROL_LINES)))
    if len(usable) >= CONTROL_LINES and identity == 0:
        return []
    best = None
    # A file that holds a thirteenth line is read as one with a line too many before one with a
    # line missing: the alignment that accounts for every line wins a tie.
    for extra in range(CONTROL_LINES + 1):
        if len(usable) < CONTROL_LINES + 1:
            break
        roles = list(range(extra)) + [None] + list(range(extra, CONTROL_LINES))
        cost = sum(_fits(shape, label, _SHAPES[role], role) for (shape, label), role in zip(usable, roles)
                   if role is not None)
        if best is None or cost < best[0]:
            best = (cost, "extra", [extra])
        elif cost == best[0] and best[1] == "extra":
            best[2].append(extra)
    for missing in range(CONTROL_LINES):
        if len(usable) < CONTROL_LINES - 1:
            break
        roles = [k for k in range(CONTROL_LINES) if k != missing]
        cost = _alignment_cost(usable[:CONTROL_LINES - 1], roles)
        if best is None or cost < best[0]:
            best = (cost, "missing", [missing])
        elif cost == best[0] and best[1] == "missing":
            best[2].append(missing)
    if best is None or not best[0] < identity or best[0] > 0:
        return []
    _, kind, where = best
    if kind == "missing":
        # A text line is the table's name rather than a title: the name is the last line to be
        # taken for missing.
        named = [w for w in where if _LINE_ROLES[w] != "table name"] or where
        # Lines of one role are alike: name the last of the run that fits (line 2 of the two
        # free-text lines: the first line is there, holding the title).
        first, last = named[0], named[-1]
        role = _LINE_ROLES[last]
        which = f"line {last + 1} ({role})" if first == last or _LINE_ROLES[first] == role else \
            f"one of lines {first + 1} to {last + 1} ({_LINE_ROLES[first]} .. {role})"
        return [Finding("control.line-missing",
                          f"{CONTROL_LINES - 1} lines where {CONTROL_LINES} are expected: {which} seems missing,"
                          " so every value is read one line early",
                          line=last + 1, data={"line": last + 1, "role": role, "candidates": [w + 1 for w in where]})]
    first, last = where[0], where[-1]
    which = f"line {first + 1}" if first == last else f"one of lines {first + 1} to {last + 1}"
    return [Finding("control.line-extra",
                      f"{CONTROL_LINES + 1} lines where {CONTROL_LINES} are expected: {which} seems one too many,"
                      " so every value after it is read one line late",
                      line=first + 1, data={"line": first + 1, "candidates": [w + 1 for w in where]})]


def kfile_num_range(kfile_num: int) -> List[Finding]:
    """A kfile_num outside 0 .. 99, which the two digits of the output name cannot hold.

    Examples
    --------
    >>> d = kfile_num_range(100)[0]
    >>> d.code, d.data["name"]
    ('control.kfile-num', 'eh_EMS.#**')
    >>> kfile_num_range(99)
    []
    """
    if 0 <= kfile_num <= 99:
        return []
    name = output_name(kfile_num)
    return [Finding("control.kfile-num", f"kfile_num = {kfile_num} is outside 0 .. 99, which the output name's two"
                                         f" digits hold: the converter names its output {name}",
                    value=float(kfile_num), data={"name": name})]


def scale_other_kind(iflag_EH: int, scales: Mapping[str, float]) -> List[Finding]:
    """A scale for the field kind the table is not, different from 1: it does not apply.

    Examples
    --------
    >>> [d.data["name"] for d in scale_other_kind(1, {"scale_E": 1.5, "scale_B": 1.0})]
    ['scale_E']
    >>> scale_other_kind(0, {"scale_E": 1.5, "scale_B": 1.0})
    []
    """
    used, name = scale_name(iflag_EH), scale_name(1 - iflag_EH)
    if used is None or name is None:
        return []
    value = scales[name]
    if value == 1.0:
        return []
    return [Finding("control.scale-other-kind", f"{name} = {value!r} does not apply: iflag_EH = {iflag_EH} reads the"
                                                f" table as {field_kind(iflag_EH)}, which {used} scales",
                    value=float(value), data={"name": name, "applies": used})]
