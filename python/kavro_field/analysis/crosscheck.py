"""`check --control`: a field file against the conversion of its control file and table.

The whole 3D field is rebuilt from the table as the converter makes it (its reading, mirroring,
grid and 3 x 3 approximation) and compared node by node; the map itself is judged as `lint`
judges it, so that a cause is named once: a grid beyond the map, a fringe cut off, a table that
does not match its header or its mirror mode, a mesh too coarse for the approximation.
"""


import numpy as np

import os
from typing import List, Mapping, Tuple

from ..errors import BadUsageError
from ..findings import Finding, without_codes
from ..inputs.nottext import refuse_not_text
from ..inputs.prepared import output_grid
from ..inputs.trace import sampled_trace, trace
from ..units import field_kind
from .checks import _names, _node, _where, check_file, field_scale
from .lint import map_warnings
from .mesh import approximation_steps, sampled_peak

# Rounding of the file's layout: layout 0 holds the doubles themselves (the rebuild agrees to the
# last bit; a few ulps leave room for another compiler's rounding), the text layouts 15
# significant digits, half a unit of the 15th digit at most.
ULPS = 4
TEXT_DIGITS_SHARE = 6e-15


def _text(value) -> str:
    if isinstance(value, tuple):
        return " ".join(_text(v) for v in value)
    if isinstance(value, float):
        return f"{value:.15g}"
    return str(value)


def file_control_mismatch(f, control: Mapping, file_name: str, control_name: str) -> List[Finding]:
    """The first difference between a field file's header and what the control file makes: d_elm,
    aper (layouts 0 and 1), ksym, the grid limits, the field kind (layout 2).

    Parameters
    ----------
    f : FieldFile
    control : mapping
        The control values by name (as `inputs.trace` reads them).
    file_name, control_name : str
        The names to show, as the user gave them.

    Returns
    -------
    list of Finding
        At most one, code "control.mismatch"; data: what, in the file, in the control file.
    """
    def same(a, b):
        return bool(np.all(np.isclose(np.asarray(a, dtype=float), np.asarray(b, dtype=float), rtol=1e-12, atol=0.0)))

    pairs: List[Tuple[str, object, object]] = []
    if f.d_elm is not None:
        pairs += [("d_elm", f.d_elm, float(control["d_elm"])), ("aper", f.aper, float(control["aper"]))]
    pairs.append(("ksym", tuple(int(v) for v in f.ksym),
                  tuple(int(control[n]) for n in ("ksym_x", "ksym_y", "ksym_z"))))
    for axis, (want, _) in output_grid(control).items():
        pairs.append((f"{axis} limits", tuple(float(v) for v in f.limits[axis]), tuple(float(v) for v in want)))
    if f.kind is not None:
        pairs.append(("field", f.kind, field_kind(control["iflag_EH"]) or f"iflag_EH {control['iflag_EH']}"))
    for what, mine, theirs in pairs:
        differs = (mine != theirs) if isinstance(mine, str) or what == "ksym" else not same(mine, theirs)
        if differs:
            detail = f"{what} {_text(mine)} in the file, {_text(theirs)} in the control file"
            return [Finding("control.mismatch", f"{os.path.basename(file_name)} was not converted from {control_name}:"
                                                f" {detail}",
                            data={"what": what, "file": mine, "control": theirs, "detail": detail})]
    return []


def rebuild_difference(f, rebuilt):
    """Nodes where the file departs from the rebuilt field beyond the rounding of its layout.

    Returns
    -------
    (finding or None, note)
    """
    names = _names(f)
    scale = max(field_scale(f), 1e-300)
    worst_ulps = 0.0
    bad_total = 0
    worst = None
    for name, mine, theirs in zip(names, (rebuilt.Fx, rebuilt.Fy, rebuilt.Fz), f.components):
        with np.errstate(invalid="ignore"):
            difference = np.abs(theirs - mine)
        same = (theirs == mine) | (np.isnan(theirs) & np.isnan(mine))
        spacing = np.spacing(np.abs(np.where(np.isfinite(mine), mine, 0.0)))
        allowed = ULPS * spacing if f.layout == 0 else TEXT_DIGITS_SHARE * np.abs(mine) + ULPS * spacing
        bad = ~same & ~(difference <= allowed)
        finite = np.isfinite(difference) & ~same
        if finite.any():
            with np.errstate(over="ignore"):
                worst_ulps = max(worst_ulps, float(np.max(difference[finite] / np.maximum(spacing[finite], 5e-324))))
        if bad.any():
            bad_total += int(bad.sum())
            size = np.where(bad, np.nan_to_num(difference, nan=np.inf), 0.0)
            node = np.unravel_index(np.argmax(size), size.shape)
            if worst is None or size[node] > worst[0]:
                worst = (float(size[node]), name, node, float(theirs[node]), float(mine[node]))
    rounding = "the last bit" if f.layout == 0 else "the 15 digits of the text layout"
    if worst is None:
        agreement = "to the last bit" if worst_ulps == 0 else f"within {worst_ulps:.0f} ulps"
        return None, f"note: every node agrees with this table's conversion {agreement}"
    size, name, node, found, expected = worst
    return Finding("rebuild", f"{bad_total} values differ from this table's conversion beyond {rounding}, the largest"
            f" {name} = {found:.10g} where the table gives {expected:.10g} ({size / scale:.3g} of the largest |F|)"
            f" at {_where(f, node)}: the file is not this table's conversion (a stale file, another table,"
            " a damaged or edited node)", node=_node(node), value=size / scale, data={"count": bad_total}), None


def control_mismatch(f, control, file_name: str):
    """Raise BadUsageError where a field file's header is not what its control file makes: the
    file and the control file given together do not belong together (`summary`, `plot` and
    `export` with --control), and the message names the first difference. Returns the trace of
    the control file, for the rest of the command to use without reading the inputs again.

    Examples
    --------
    >>> control_mismatch(load(field_path), example, field_path).outcome.outcome
    'ok'
    """
    t = trace(control)
    if "iflag_EH" not in t.control or "aper" not in t.control:
        return t  # the control file does not read as far as the grid: the conversion tells why
    found = file_control_mismatch(f, t.control, file_name, t.control_path)
    if found:
        raise BadUsageError(found[0].message)
    return t


def check_with_control(f, control):
    """All checks of a field file against the control file of its conversion and its table.

    Parameters
    ----------
    f : FieldFile
    control : str
        The control file or its folder.

    Returns
    -------
    findings : list of Finding
    notes : list of str
        Informational lines, each beginning with "note:".

    Raises
    ------
    FieldFileError
        When the converter would not sample the table (a failure or a stop before).

    Examples
    --------
    >>> findings, notes = check_with_control(load(field_path), example)
    """
    t = sampled_trace(control)
    refuse_not_text(t)
    inputs = t.inputs
    mismatch = file_control_mismatch(f, inputs.control, f.path, t.control_path)
    if mismatch:
        # Another conversion's control file: every other comparison would only restate it.
        return mismatch, []
    own = check_file(f, ends=False)
    causes = map_warnings(t, with_oddities=True)
    difference, note = rebuild_difference(f, inputs.field3d())
    findings = [difference] if difference else []
    notes = [note] if note else []
    if not causes:
        step = approximation_steps(inputs, inputs.grid())[0]
        if step > 0:
            notes.append(f"note: the approximation steps by up to {step / sampled_peak(inputs):.2g} of the largest |F|"
                         " between table cells, below the jump threshold")
    if causes:
        # The map's own cause stands for the jumps and the divergence it makes.
        own = without_codes(own, ("continuity", "divergence"))
    if any(cause.family == "coverage" for cause in causes):
        # Nodes beyond the map are the zero-field nodes the file holds.
        own = without_codes(own, ("zero",))
    return own + findings + causes, notes
