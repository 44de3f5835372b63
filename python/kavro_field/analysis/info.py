"""What `info` tells about a field file: layout, grid, flags and the range of each component."""

from typing import TYPE_CHECKING, Any, Dict, List

import numpy as np

from ..fieldfiles.grid import AXIS_NAMES, NODE_COUNTS
from ..fieldfiles.layouts import LAYOUT_NAMES

if TYPE_CHECKING:
    from ..fieldfiles.fieldfile import FieldFile


def file_info(f: "FieldFile") -> Dict[str, Any]:
    """Summary of a field file as plain data, the keys of `info --json`.

    Parameters
    ----------
    f : FieldFile

    Returns
    -------
    dict
    """
    zero = (f.Fx == 0.0) & (f.Fy == 0.0) & (f.Fz == 0.0)
    return {
        "file": f.path,
        "format": f.layout,
        "field": f.kind,
        "nodes": list(NODE_COUNTS),
        "limits": {axis: [float(lo), float(hi)] for axis, (lo, hi) in f.limits.items()},
        "steps": f.steps,
        "ksym": list(f.ksym),
        "d_elm": f.d_elm,
        "aper": f.aper,
        "components": {axis: {"min": float(c.min()), "max": float(c.max()), "max_abs": float(np.abs(c).max())}
                       for axis, c in zip(AXIS_NAMES, f.components)},
        "zero_share": float(zero.mean()),
    }


def _optional(value):
    return "not in this layout" if value is None else f"{value:.15g}"


def info_lines(s: Dict[str, Any]) -> List[str]:
    """The summary as the lines `info` prints."""
    prefix = s["field"] or "F"
    lines = [f"file        {s['file']}",
             f"layout      {s['format']} ({LAYOUT_NAMES[s['format']]})",
             f"field       {s['field'] or 'not stated in this layout'}"]
    for axis, n in zip(AXIS_NAMES, s["nodes"]):
        lo, hi = s["limits"][axis]
        lines.append(f"grid {axis}      {n:3d} nodes from {lo:.15g} to {hi:.15g}, step {s['steps'][axis]:.15g}")
    lines += [f"ksym        {' '.join(str(v) for v in s['ksym'])}",
              f"d_elm       {_optional(s['d_elm'])}",
              f"aper        {_optional(s['aper'])}"]
    for axis, c in s["components"].items():
        lines.append(f"{prefix + axis:<11} min {c['min']:< 14.6g} max {c['max']:< 14.6g} max |value| {c['max_abs']:.6g}")
    total = int(np.prod(s["nodes"]))
    lines.append(f"zero        {s['zero_share']:.4%} of the nodes ({round(s['zero_share'] * total)} of {total})"
                 " have all three components exactly 0")
    return lines
