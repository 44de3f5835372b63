"""Checks of a field file: the structure the converter gives every file, the physics of a real
field (continuous, free of divergence). The checks against the control file are in `crosscheck`.

Every check returns a list of findings, each with its code, node and value. The thresholds sit between the
two kinds of file they have to tell apart: a clean conversion of a smooth field, whose only
departures from the ideal are rounding (1e-16 of the values in layout 0, 1e-15 in the text
layouts) and the error of the 3 x 3 quadratic approximation (about 0.1 (k h)^3 of the field for
a map step h and a wave number k, below 1e-3 for any map that resolves its field), and a damaged
conversion, whose departures are of the order of the field itself.
"""

import warnings

from typing import Tuple

import numpy as np

from ..findings import Finding
from ..fieldfiles.grid import AXIS_NAMES, AXIS_RADIUS, node_coordinates, node_radii
from .ends import element_end_planes_of, end_plane_jumps

# Grid nodes computed from the limits agree with the written ones to the last digits: 1e-12 of
# the span leaves room for the 15 digits of the text layouts and flags any other grid.
GRID_TOLERANCE = 1e-12
# |Fx y - Fy x| of a radial field is rounding, a few 1e-16 of |Fx y| + |Fy x| (1e-15 in text);
# arrays written in another loop order give values of the order of 1.
RADIAL_TOLERANCE = 1e-9
# Second differences along an axis: a smooth field sampled at h has |d2| ~ (k h)^2 |F| varying
# slowly from node to node, a jump J gives |d2| ~ J at the two nodes beside it. A node is a jump
# when its |d2| exceeds JUMP_RATIO times the median of its neighbours (offsets 2 .. JUMP_WINDOW
# on both sides, so that the two nodes of one jump do not hide each other) and JUMP_FLOOR of the
# largest |F| of the file, above the approximation's own steps between map cells. Clean
# conversions of smooth fields stay below a tenth of one limit or the other (ratios up to 4 where
# |d2| passes the floor); a wrongly mirrored component jumps by 2 |F(0)|, 600 times its
# neighbours and 50 times the floor at the least.
JUMP_RATIO = 50.0
JUMP_WINDOW = 10
JUMP_FLOOR = 1e-2
# A jump is a step between two nodes: its second differences at the two nodes beside the step
# have opposite signs and sizes within this factor of each other (a spike gives the same pair).
# A field's own curvature, however fast it grows towards the grid's corners, keeps one sign.
STEP_PAIR = 0.5
# Divergence from central differences, relative to a robust scale of the gradient over the file:
# the 90th percentile of |dFx/dx| + |dFy/dy| + |dFz/dz|, which the few nodes beside a jump do not
# raise. Truncation leaves (k h)^2 / 6 of the local terms, below 0.01 of the scale for a grid
# that resolves its field; a jump of the axial component across a grid step gives 10 times the
# scale and more, a jump of the radial ones (with the kink of the axial one that comes with it)
# about the scale itself. Where all terms stay below GRADIENT_NOISE of the field per grid step
# (a component constant along its axis, as E_z of a TM010 mode along z) the divergence is
# rounding and that is the scale.
# A coarse table (a step of a quarter of the field's length) sampled by a fine grid shows the
# approximation's own divergence, (k h_map)^2 of the scale: up to 0.2 of it.
DIVERGENCE_TOLERANCE = 0.3
GRADIENT_NOISE = 1e-6


def _where(f, node):
    i, j, k = (int(n) for n in node)
    return (f"x = {f.x_grid[i]:.6g}, y = {f.y_grid[j]:.6g}, z = {f.z_grid[k]:.6g}"
            f" (node [{i}, {j}, {k}])")


def _node(node) -> Tuple[int, int, int]:
    i, j, k = (int(n) for n in node)
    return i, j, k


def _names(f):
    prefix = f.kind or "F"
    return [prefix + axis for axis in AXIS_NAMES]


def field_scale(f):
    """Largest |value| of any component of the file."""
    return max(float(np.max(np.abs(c))) for c in f.components)


def check_grid(f):
    """Nodes against the limits, and the limits against the symmetry flags."""
    findings = []
    for axis, grid, (lower, upper), flag in zip(AXIS_NAMES, f.grids, (f.xmws, f.ymws, f.zmws), f.ksym):
        expected = node_coordinates(lower, upper, len(grid))
        off = np.abs(grid - expected)
        worst = int(np.argmax(off))
        if off[worst] > GRID_TOLERANCE * max(abs(lower), abs(upper), np.finfo(float).tiny):
            findings.append(Finding("grid.nodes", f"node {worst} at {grid[worst]:.15g} lies {off[worst]:.3g} off the"
                                    f" uniform grid of {len(grid)} nodes from {lower:.15g} to {upper:.15g}",
                                    value=float(off[worst]), data={"axis": axis, "index": worst}))
        if upper < lower:
            findings.append(Finding("grid.backwards", f"the grid runs backwards, from {lower:.15g} to {upper:.15g}:"
                                    " aper or d_elm is negative", data={"axis": axis}))
        if flag != 0 and lower != 0.0:
            findings.append(Finding("grid.flag-start", f"symmetry flag {flag} but the grid starts at {lower:.15g},"
                                    " not at 0", data={"axis": axis}))
        if flag == 0 and lower != -upper:
            findings.append(Finding("grid.flag-symmetric", f"symmetry flag 0 but the grid runs from {lower:.15g} to"
                                    f" {upper:.15g}, not symmetric about 0", data={"axis": axis}))
    return findings


def _transverse(f):
    """Radius of every node, broadcast to the field's shape, and the on-axis mask."""
    r = np.broadcast_to(node_radii(f.x_grid, f.y_grid)[:, :, None], f.Fx.shape)
    return r, r <= AXIS_RADIUS


def check_axis_and_radial(f):
    """Transverse field zero on the axis and parallel to (x, y) elsewhere."""
    findings = []
    names = _names(f)
    r, on_axis = _transverse(f)
    for name, component in zip(names[:2], (f.Fx, f.Fy)):
        nonzero = on_axis & (component != 0.0)
        if nonzero.any():
            magnitude = np.where(nonzero, np.abs(component), 0.0)
            worst = np.unravel_index(np.argmax(magnitude), magnitude.shape)
            findings.append(Finding("axis.transverse", f"{name} is not 0 at {int(nonzero.sum())} nodes on the axis,"
                                    f" up to {magnitude[worst]:.4g} at {_where(f, worst)}", node=_node(worst),
                                    value=float(magnitude[worst]), data={"count": int(nonzero.sum())}))
    x = f.x_grid[:, None, None]
    y = f.y_grid[None, :, None]
    cross = np.abs(f.Fx * y - f.Fy * x)
    scale = np.abs(f.Fx * y) + np.abs(f.Fy * x)
    transverse_scale = float(np.max(np.sqrt(f.Fx ** 2 + f.Fy ** 2) * r))
    excess = np.where(on_axis, 0.0, cross - RADIAL_TOLERANCE * scale)
    bad = excess > RADIAL_TOLERANCE * transverse_scale
    if bad.any():
        worst = np.unravel_index(np.argmax(np.where(bad, cross / np.maximum(scale, 1e-300), 0.0)), bad.shape)
        share = cross[worst] / scale[worst]
        findings.append(Finding("radial", f"({names[0]}, {names[1]}) is not parallel to (x, y) at {int(bad.sum())} nodes,"
                        f" |{names[0]} y - {names[1]} x| up to {share:.3g} of |{names[0]} y| + |{names[1]} x|"
                        f" at {_where(f, worst)}", node=_node(worst), value=float(share),
                                data={"count": int(bad.sum())}))
    return findings


def check_xy_symmetry(f):
    """An axially symmetric field is unchanged when x and y trade places on a square grid."""
    if not np.array_equal(f.x_grid, f.y_grid):
        return []
    names = _names(f)
    tolerance = 1e-13 * field_scale(f)
    findings = []
    for (name_a, a), (name_b, b) in (((names[2], f.Fz), (names[2], f.Fz)), ((names[0], f.Fx), (names[1], f.Fy))):
        difference = np.abs(a - b.transpose(1, 0, 2))
        bad = difference > tolerance
        if bad.any():
            worst = np.unravel_index(np.argmax(difference), difference.shape)
            findings.append(Finding("symmetry", f"{name_a} at (x, y) and {name_b} at (y, x) differ at {int(bad.sum())}"
                                    f" nodes, by up to {difference[worst]:.4g} at {_where(f, worst)}",
                                    node=_node(worst), value=float(difference[worst]), data={"count": int(bad.sum())}))
    return findings


def zero_field_nodes(f):
    """Nodes where all three components are exactly 0: outside the map as a rule, or on the axis
    where the axial component passes through 0."""
    return (f.Fx == 0.0) & (f.Fy == 0.0) & (f.Fz == 0.0)


def check_zero_field(f):
    """Report nodes whose field is exactly zero off the axis, which a real field never is."""
    zero = zero_field_nodes(f) & ~_transverse(f)[1]
    count = int(zero.sum())
    if count == 0:
        return []
    if field_scale(f) == 0.0:
        return [Finding("zero.everywhere", "the field is 0 at every node")]
    r, _ = _transverse(f)
    z = np.broadcast_to(f.z_grid[None, None, :], zero.shape)
    return [Finding("zero.nodes", f"the field is exactly 0 at {count} nodes off the axis, at radii {r[zero].min():.6g}"
            f" .. {r[zero].max():.6g} and z {z[zero].min():.6g} .. {z[zero].max():.6g}:"
            " grid nodes outside the map?", data={"count": count})]


def _with_neighbours(mask, axes):
    """`mask` grown by one node both ways along each of `axes`."""
    grown = mask.copy()
    for axis in axes:
        ahead = [slice(None)] * mask.ndim
        behind = [slice(None)] * mask.ndim
        ahead[axis], behind[axis] = slice(1, None), slice(None, -1)
        grown[tuple(ahead)] |= mask[tuple(behind)]
        grown[tuple(behind)] |= mask[tuple(ahead)]
    return grown


def _neighbourhood_median(values, left_out, axis):
    """Median of |values| at offsets 2 .. JUMP_WINDOW on both sides along `axis`, without the
    values marked in `left_out` (NaN where none is left)."""
    moved = np.moveaxis(np.where(left_out, np.nan, np.abs(values)), axis, -1)
    n = moved.shape[-1]
    padded = np.concatenate([np.full(moved.shape[:-1] + (JUMP_WINDOW,), np.nan), moved,
                             np.full(moved.shape[:-1] + (JUMP_WINDOW,), np.nan)], axis=-1)
    offsets = [o for o in range(-JUMP_WINDOW, JUMP_WINDOW + 1) if abs(o) >= 2]
    window = np.stack([padded[..., JUMP_WINDOW + o:JUMP_WINDOW + o + n] for o in offsets], axis=-1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # windows with no value left
        return np.moveaxis(np.nanmedian(window, axis=-1), -1, axis)


def _step_pairs(d2, axis):
    """Second differences that have a neighbour of the other sign and a like size."""
    paired = np.zeros(d2.shape, dtype=bool)
    n = d2.shape[axis]
    for here, there in ((slice(0, n - 1), slice(1, n)), (slice(1, n), slice(0, n - 1))):
        a = [slice(None)] * d2.ndim
        b = [slice(None)] * d2.ndim
        a[axis], b[axis] = here, there
        mine, theirs = d2[tuple(a)], d2[tuple(b)]
        paired[tuple(a)] |= (mine * theirs < 0) & (np.abs(theirs) >= STEP_PAIR * np.abs(mine))
    return paired


def check_finite(f):
    """NaN or Inf in the grid or the field: every other check compares numbers and would pass them."""
    findings = []
    for name, values in (("grid", np.concatenate(f.grids)), ("field", np.stack(f.components))):
        bad = ~np.isfinite(values)
        if not bad.any():
            continue
        if name == "grid":
            count = int(bad.sum())
            findings.append(Finding("finite.grid", f"{count} grid coordinate{' is' if count == 1 else 's are'} NaN or"
                                    " Inf", data={"count": count}))
            continue
        nodes = bad.any(axis=0)
        first = np.unravel_index(np.argmax(nodes.ravel(order="F")), nodes.shape, order="F")
        c = int(np.argmax(bad[(slice(None),) + first]))
        count = int(nodes.sum())
        findings.append(Finding("finite.field", f"{count} node{' holds' if count == 1 else 's hold'} NaN or Inf, the"
                                f" first {_names(f)[c]} = {values[(c,) + first]} at {_where(f, first)}",
                                node=_node(first), data={"count": count}))
    return findings


def check_ends(f):
    """The element's end planes: a jump between the first or last two planes (the halves of a
    wrongly mirrored element meeting there), and an end where the on-axis field is still above
    FRINGE_SHARE of its peak and goes on through the plane. An end the field meets at right
    angles is a wall (an end plate, a pole face), not a finding."""
    ends = [found for found in element_end_planes_of(f) if found.code != "fringe.wall"]
    return end_plane_jumps(f.Fx, f.Fy, f.Fz, f.z_grid, _names(f)) + ends


def check_continuity(f):
    """Jumps along each axis: second differences far above those of the neighbouring nodes."""
    findings = []
    floor = JUMP_FLOOR * field_scale(f)
    zero = zero_field_nodes(f)
    for name, component in zip(_names(f), f.components):
        for axis, axis_name in enumerate(AXIS_NAMES):
            d2 = np.diff(component, 2, axis=axis)
            # A difference that reaches a node of zero field belongs to the zero-field finding.
            touches_zero = np.take(_with_neighbours(zero, [axis]), range(1, zero.shape[axis] - 1), axis=axis)
            ratio = np.abs(d2) / np.maximum(_neighbourhood_median(d2, touches_zero, axis), 1e-300)
            jump = (ratio > JUMP_RATIO) & (np.abs(d2) > floor) & ~touches_zero & _step_pairs(d2, axis)
            if not jump.any():
                continue
            worst = np.unravel_index(np.argmax(np.where(jump, np.abs(d2), 0.0)), d2.shape)
            node = list(worst)
            node[axis] += 1
            times = f"{ratio[worst]:.3g} x" if ratio[worst] < 1e6 else "over 1e6 x"
            findings.append(Finding("continuity", f"{name} jumps along {axis_name} at {int(jump.sum())} nodes, second"
                            f" difference up to {abs(d2[worst]):.4g} ({times} its"
                            f" neighbours', {abs(d2[worst]) / field_scale(f):.3g} of the largest |F|)"
                            f" at {_where(f, node)}", node=_node(node), value=float(abs(d2[worst])),
                                    data={"along": axis_name, "count": int(jump.sum())}))
    return findings


def check_divergence(f):
    """div F = 0 in vacuum, for static fields and RF amplitudes alike."""
    terms = [np.gradient(c, g, axis=a, edge_order=2) if len(np.unique(g)) == len(g) else np.zeros_like(c)
             for a, (c, g) in enumerate(zip(f.components, f.grids))]
    divergence = np.abs(terms[0] + terms[1] + terms[2])
    local = np.abs(terms[0]) + np.abs(terms[1]) + np.abs(terms[2])
    zero = zero_field_nodes(f)
    # Central differences at a node use its neighbours: keep away from nodes of zero field.
    near_zero = _with_neighbours(zero, range(3))
    steps = [abs(g[1] - g[0]) for g in f.grids if g[1] != g[0]]
    noise = GRADIENT_NOISE * field_scale(f) / min(steps) if steps else 0.0
    scale = max(float(np.percentile(local[~near_zero], 90)) if (~near_zero).any() else 0.0, noise)
    relative = np.where(near_zero, 0.0, divergence / scale) if scale > 0.0 else np.zeros_like(divergence)
    bad = relative > DIVERGENCE_TOLERANCE
    if not bad.any():
        return []
    worst = np.unravel_index(np.argmax(relative), relative.shape)
    return [Finding("divergence", f"|div {f.field_name}| exceeds {DIVERGENCE_TOLERANCE} of the gradient scale"
            f" {scale:.4g} at {int(bad.sum())} nodes, up to {divergence[worst]:.4g} ({relative[worst]:.3g}"
            f" of it) at {_where(f, worst)}", node=_node(worst), value=float(relative[worst]),
                    data={"count": int(bad.sum())})]


def check_file(f, ends=True):
    """All checks that need the file alone. With NaN or Inf in it, the checks that compare
    values would pass or fail at random: the finite finding stands for them."""
    finite = check_finite(f)
    if finite:
        return check_grid(f) + finite
    return (check_grid(f) + check_axis_and_radial(f) + check_xy_symmetry(f) + check_zero_field(f)
            + check_continuity(f) + check_divergence(f) + (check_ends(f) if ends else []))
