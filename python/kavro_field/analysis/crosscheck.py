"""`check --control`: a field file against the conversion of its control file and table.

The whole 3D field is rebuilt from the table as the converter makes it (its reading, mirroring,
grid and 3 x 3 approximation) and compared node by node; the map itself is judged as `lint`
judges it, so that a cause is named once: a grid beyond the map, a fringe cut off, a table that
does not match its header or its mirror mode, a mesh too coarse for the approximation.
"""


import numpy as np

from ..units import field_kind
from ..findings import Finding, without_codes
from .checks import JUMP_FLOOR, _names, _node, _where, check_file, field_scale
from ..inputs.prepared import output_grid
from ..inputs.trace import sampled_trace
from .lint import map_warnings

# Rounding of the file's layout: layout 0 holds the doubles themselves (the rebuild agrees to the
# last bit; a few ulps leave room for another compiler's rounding), the text layouts 15
# significant digits, half a unit of the 15th digit at most.
ULPS = 4
TEXT_DIGITS_SHARE = 6e-15


def check_grid_matches_control(f, control):
    """The file's grid and field type are those the control file asks for."""
    findings = []
    for axis, (want, _) in output_grid(control).items():
        limits = f.limits[axis]
        if not np.allclose(want, limits, rtol=1e-12, atol=0.0):
            findings.append(Finding("control.grid", f"the file's {axis} runs from {limits[0]:.15g} to"
                                    f" {limits[1]:.15g}, the control file's grid from {want[0]:.15g} to {want[1]:.15g}",
                                    data={"along": axis}))
    kind = field_kind(control["iflag_EH"])
    if f.kind is not None and f.kind != kind:
        findings.append(Finding("control.kind", f"the file holds {f.kind}, the control file converts iflag_EH ="
                                f" {control['iflag_EH']}"))
    return findings


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


def approximation_steps(inputs, axes):
    """The largest step the approximation takes where it changes its 3 x 3 block (halfway between
    table nodes), over the part of the map the grid covers: (step, r, z)."""
    x, y, z = (axes[a][1] for a in "xyz")
    radii = np.unique(np.sqrt(x[:, None] ** 2 + y[None, :] ** 2))
    r_node, z_node = inputs.r_node, inputs.z_node
    z_mid = (z_node[1:-2] + z_node[2:-1]) / 2
    z_mid = z_mid[(z_mid >= z.min()) & (z_mid <= z.max())]
    r_mid = (r_node[1:-2] + r_node[2:-1]) / 2
    r_mid = r_mid[(r_mid >= radii.min()) & (r_mid <= radii.max())]
    best = (0.0, 0.0, 0.0)
    for rr, zz, moved in ((radii[:, None], z_mid[None, :], "z"), (r_mid[:, None], z[None, :], "r")):
        if rr.size == 0 or zz.size == 0:
            continue
        rr, zz = np.broadcast_arrays(rr, zz)
        before = (rr, np.nextafter(zz, -np.inf)) if moved == "z" else (np.nextafter(rr, -np.inf), zz)
        with np.errstate(invalid="ignore"):
            steps = np.maximum(*(np.abs(a - b) for a, b in zip(inputs.at(rr, zz), inputs.at(*before))))
        steps = np.where(np.isfinite(steps), steps, 0.0)
        k = np.unravel_index(np.argmax(steps), steps.shape)
        if steps[k] > best[0]:
            best = (float(steps[k]), float(rr[k]), float(zz[k]))
    return best


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
    inputs = t.inputs
    own = check_file(f, fringe=False)
    findings = check_grid_matches_control(f, inputs.control)
    causes = map_warnings(t, with_oddities=True)
    notes = []
    if not findings:
        difference, note = rebuild_difference(f, inputs.field3d())
        findings += [difference] if difference else []
        notes += [note] if note else []
    step, r, z = approximation_steps(inputs, inputs.grid())
    peak = max(field_scale(f), 1e-300)
    mesh = []
    if step > JUMP_FLOOR * peak and not causes:
        mesh = [Finding("mesh", f"the table's mesh is too coarse for the 3 x 3 approximation: its value steps by up"
                                f" to {step:.4g} ({step / peak:.3g} of the largest |F|) between table cells, at"
                                f" r = {r:.6g}, z = {z:.6g}; a finer table (smaller steps along r and z) gives a"
                                " smooth field", value=step / peak, data={"r": r, "z": z})]
    elif step > 0 and not causes:
        notes.append(f"note: the approximation steps by up to {step / peak:.2g} of the largest |F| between table"
                     " cells, below the jump threshold")
    if causes or mesh:
        # The map's own cause stands for the jumps and the divergence it makes.
        own = without_codes(own, ("continuity", "divergence"))
    if any(cause.family == "coverage" for cause in causes):
        # Nodes beyond the map are the zero-field nodes the file holds.
        own = without_codes(own, ("zero",))
    return own + findings + causes + mesh, notes
