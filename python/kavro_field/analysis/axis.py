"""`summary`: the numbers a physicist checks first, from a field file's axis.

The on-axis longitudinal field (peak, the share left at the element's ends, its integral and the
integral of its square, effective length and hard-edge field) and the largest transverse field;
in SI units on request, with the thin-lens focal length and Larmor angle of a magnetic element,
the voltage of an electric one and the transit-time factor of an RF amplitude; with the control
file, the same numbers from the table's own on-axis column beside the file's.
"""

import math

import numpy as np

from ..errors import DamagedFileError, FieldFileError
from ..fieldfiles.grid import axis_node
from ..units import FIELD_UNITS, LENGTH_UNITS

SPEED_OF_LIGHT = 299_792_458.0  # m/s
# Velocities at which the transit-time factor is listed, and the scan for its largest value.
BETAS = (0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0)
BETA_SCAN = np.linspace(0.02, 1.0, 4901)
AXIS_KEYS = ("peak", "peak_z", "end_share_lower", "end_share_upper", "integral", "integral_abs",
             "integral_square", "effective_length", "hard_edge_field")
# An integral of F below this share of the integral of |F| is a field odd in z: its effective
# length and hard-edge field are not defined.
ODD_SHARE = 1e-9


def integrate(z, values):
    """Integral over z of values at equally spaced nodes (along the first axis of `values`):
    Simpson's rule, the trapezoid on the last interval when their count is even."""
    z = np.asarray(z, dtype=float)
    values = np.asarray(values)
    n = len(z)
    if n < 2:
        return 0.0 * values.sum(axis=0)
    h = (z[-1] - z[0]) / (n - 1)
    m = n if n % 2 == 1 else n - 1
    total = 0.0 * values[0]
    if m >= 3:
        total = h / 3 * (values[0] + 4 * values[1:m - 1:2].sum(axis=0) + 2 * values[2:m - 2:2].sum(axis=0)
                         + values[m - 1])
    if m < n:
        total = total + h / 2 * (values[-2] + values[-1])
    return total


def axis_numbers(z, field, ksym_z=0):
    """The on-axis numbers of a longitudinal field profile `field` at the nodes `z`.

    Returns
    -------
    dict
        peak (signed value of the largest |F|), peak_z, end_share_lower (None with ksym_z set:
        the lower end is the element's middle), end_share_upper, integral, integral_square,
        integral_abs (integral |F| dz), effective_length ((integral F dz)^2 / integral F^2 dz) and
        hard_edge_field (integral F^2 dz / integral F dz), both None for a field odd in z.

    Examples
    --------
    >>> z = np.linspace(-1, 1, 201)
    >>> round(axis_numbers(z, np.ones(201))["effective_length"], 12)
    2.0
    """
    k = int(np.nanargmax(np.abs(field)))
    peak = float(field[k])
    integral = float(integrate(z, field))
    magnitude = float(integrate(z, np.abs(field)))
    square = float(integrate(z, field * field))
    defined = abs(integral) > ODD_SHARE * magnitude

    def share(v):
        return abs(float(v)) / abs(peak) if peak != 0 else None

    return {"peak": peak, "peak_z": float(z[k]),
            "end_share_lower": None if ksym_z != 0 else share(field[0]), "end_share_upper": share(field[-1]),
            "integral": integral, "integral_abs": magnitude, "integral_square": square,
            "effective_length": integral * integral / square if square and defined else None,
            "hard_edge_field": square / integral if defined else None}


def transit_time(z_m, field_si, frequency):
    """V(beta) and T(beta) = V(beta) / integral |E| dz of an RF amplitude at the nodes z (in m)."""
    norm = float(integrate(z_m, np.abs(field_si)))

    def voltage(beta):
        beta = np.atleast_1d(np.asarray(beta, dtype=float))
        phase = np.exp(1j * 2 * math.pi * frequency * z_m[None, :] / (beta[:, None] * SPEED_OF_LIGHT))
        return np.abs(integrate(z_m, (field_si[None, :] * phase).T))

    scan = voltage(BETA_SCAN)
    best = int(np.argmax(scan))
    at_light_speed = float(voltage(1.0)[0])
    return {"voltage_beta_1": at_light_speed,
            "T_beta_1": at_light_speed / norm if norm else None,
            "beta_of_largest_T": float(BETA_SCAN[best]),
            "largest_T": float(scan[best] / norm) if norm else None,
            "T": {f"{b:g}": float(v / norm) if norm else None for b, v in zip(BETAS, voltage(BETAS))}}


def summarise_axis(f, length_unit=None, field_unit=None, momentum=None, frequency=None, control=None):
    """The on-axis summary of a field file, the keys of `summary --json`.

    Parameters
    ----------
    f : FieldFile
    length_unit : {"m", "cm", "mm"}, optional
        The length unit of the table (and so of the file's grid).
    field_unit : {"T", "G", "V/m", "V/cm", "kV/cm", "MV/m"}, optional
    momentum : float, optional
        Momentum in MeV/c of a particle of one elementary charge, for a magnetic field.
    frequency : float, optional
        Frequency in Hz, for an RF amplitude.
    control : str, optional
        The control file of the conversion (or its folder).

    Returns
    -------
    dict

    Examples
    --------
    >>> s = summarise_axis(load(field_path), "cm", "V/cm")
    >>> abs(s["si"]["voltage"]) < 1e-9  # the lens's tubes at the ends are at the same potential
    True
    """
    node = axis_node(f.x_grid, f.y_grid)
    if node is None:
        raise DamagedFileError(f.path, "no grid node lies on the axis: the on-axis field is not in the file")
    i, j = node
    z = f.z_grid
    axial = f.Fz[i, j, :]
    kind = f.kind
    transverse = np.sqrt(f.Fx ** 2 + f.Fy ** 2)
    t = np.unravel_index(int(np.nanargmax(np.where(np.isfinite(transverse), transverse, -1.0))), transverse.shape)
    out = {"file": f.path, "layout": f.layout, "kind": kind, "axis_node": [i, j],
           "z_range": [float(z[0]), float(z[-1])], "ksym": list(f.ksym),
           "axis": axis_numbers(z, axial, f.ksym[2]),
           "transverse_max": {"value": float(transverse[t]), "x": float(f.x_grid[t[0]]),
                              "y": float(f.y_grid[t[1]]), "z": float(f.z_grid[t[2]])}}
    if control is not None:
        from ..inputs.trace import read_inputs
        inputs = read_inputs(control)
        kind = kind or inputs.kind
        out["kind"] = kind
        out["control"] = dict(inputs.control)
        if inputs.r_node[0] == 0.0:
            table = axis_numbers(z, _column_at(inputs, z), f.ksym[2])
            out["table_axis"] = table
            floor = ODD_SHARE * max(out["axis"]["integral_abs"], table["integral_abs"])
            out["relative_difference"] = {key: _relative(out["axis"][key], table[key], floor if key == "integral" else 0.0)
                                          for key in AXIS_KEYS if key != "peak_z"}
    if length_unit or field_unit:
        out["si"] = _si(out, z, axial, kind, length_unit, field_unit, momentum, frequency)
    return out


def _column_at(inputs, z):
    """The table's on-axis axial column at z: quadratic through the three nearest nodes along z
    alone (the column itself, without the approximation's use of the next radii)."""
    node, column = inputs.z_node, inputs.axial[0]
    step = node[1] - node[0]
    centre = np.clip(np.rint((z - node[0]) / step).astype(int), 1, len(node) - 2)
    q = (z - node[centre]) / step
    before, here, after = column[centre - 1], column[centre], column[centre + 1]
    value = here + q * (after - before) / 2 + q * q / 2 * (after - 2 * here + before)
    return np.where((z >= node[0]) & (z <= node[-1]), value, 0.0)


def _relative(a, b, floor=0.0):
    if a is None or b is None:
        return None
    scale = max(abs(a), abs(b), floor)
    return abs(a - b) / scale if scale else 0.0


def _si(out, z, axial, kind, length_unit, field_unit, momentum, frequency):
    if not (length_unit and field_unit):
        raise FieldFileError(out["file"], "--length-unit and --field-unit go together")
    to_m = LENGTH_UNITS[length_unit]
    to_si, unit_kind = FIELD_UNITS[field_unit]
    if kind is not None and kind != unit_kind:
        raise FieldFileError(out["file"], f"the file holds {kind}, but {field_unit} is a unit of {unit_kind}")
    z_m = z * to_m
    field_si = axial * to_si
    a = out["axis"]
    si = {"length_unit": length_unit, "field_unit": field_unit, "kind": unit_kind,
          "peak": a["peak"] * to_si, "peak_z": a["peak_z"] * to_m,
          "integral": a["integral"] * to_si * to_m, "integral_abs": a["integral_abs"] * to_si * to_m,
          "integral_square": a["integral_square"] * to_si ** 2 * to_m,
          "effective_length": a["effective_length"] * to_m if a["effective_length"] is not None else None,
          "hard_edge_field": a["hard_edge_field"] * to_si if a["hard_edge_field"] is not None else None,
          "transverse_max": out["transverse_max"]["value"] * to_si}
    if unit_kind == "B" and momentum is not None:
        b_rho = momentum * 1e6 / SPEED_OF_LIGHT  # T m
        inverse_f = si["integral_square"] / (2 * b_rho) ** 2
        si.update({"momentum": momentum, "b_rho": b_rho, "inverse_focal_length": inverse_f,
                   "focal_length": 1 / inverse_f if inverse_f else None,
                   "larmor_angle": si["integral"] / (2 * b_rho)})
    if unit_kind == "E":
        si["voltage"] = si["integral"]
        if frequency is not None:
            si["frequency"] = frequency
            si.update(transit_time(z_m, field_si, frequency))
    return si


def _number(v, digits=6):
    return "-" if v is None else f"{v:.{digits}g}"


def summary_lines(s):
    """The summary as `summary` prints it."""
    a, name = s["axis"], f"{s['kind'] or 'F'}z"
    table = s.get("table_axis")
    lines = [f"file              {s['file']} (layout {s['layout']}{', ' + s['kind'] if s['kind'] else ''})",
             f"axis              node [{s['axis_node'][0]}, {s['axis_node'][1]}], z from {s['z_range'][0]:.6g}"
             f" to {s['z_range'][1]:.6g}" + (" (ksym_z: the half z >= 0)" if s["ksym"][2] else "")]
    if "control" in s:
        c = s["control"]
        lines.append(f"control           iflag_EH {c['iflag_EH']}, kmirror_z {c['kmirror_z']}, scale_E {c['scale_E']!r},"
                     f" scale_B {c['scale_B']!r}, kform_3D {c['kform_3D']}, ksym {c['ksym_x']} {c['ksym_y']} {c['ksym_z']},"
                     f" d_elm {c['d_elm']!r}, aper {c['aper']!r}")
    rows = [(f"peak {name}", "peak"), ("  at z", "peak_z"), ("lower end share", "end_share_lower"),
            ("upper end share", "end_share_upper"), (f"int {name} dz", "integral"),
            (f"int |{name}| dz", "integral_abs"), (f"int {name}^2 dz", "integral_square"), ("effective length", "effective_length"),
            ("hard-edge field", "hard_edge_field")]
    if table is not None:
        lines.append(f"{'':18}{'file':>14}  {'table column':>14}  {'rel. diff':>9}")
    for label, key in rows:
        line = f"{label:<18}{_number(a[key], 8):>14}"
        if table is not None:
            diff = s["relative_difference"].get(key)
            line += f"  {_number(table[key], 8):>14}  {'' if diff is None else f'{diff:9.2e}'}"
        lines.append(line.rstrip())
    tm = s["transverse_max"]
    lines.append(f"{'largest |F_t|':<18}{_number(tm['value'], 8):>14}  at x = {tm['x']:.6g}, y = {tm['y']:.6g},"
                 f" z = {tm['z']:.6g}")
    si = s.get("si")
    if si:
        field_si, integral_si, square_si = ("T", "T m", "T^2 m") if si["kind"] == "B" else ("V/m", "V", "V^2/m")
        lines += [f"SI ({si['length_unit']}, {si['field_unit']} -> m, {field_si})",
                  f"  int {name} dz      {_number(si['integral'])} {integral_si}",
                  f"  int {name}^2 dz    {_number(si['integral_square'])} {square_si}",
                  f"  effective length {_number(si['effective_length'])} m"]
        if "focal_length" in si:
            lines += [f"  B rho            {_number(si['b_rho'])} T m at {si['momentum']:g} MeV/c",
                      f"  focal length     {_number(si['focal_length'])} m (1/f = {_number(si['inverse_focal_length'])} 1/m)",
                      f"  Larmor angle     {_number(si['larmor_angle'])} rad"]
        if "voltage" in si:
            lines.append(f"  voltage int E dz {_number(si['voltage'])} V")
        if "T_beta_1" in si:
            lines += [f"  V(beta = 1)      {_number(si['voltage_beta_1'])} V at {si['frequency']:g} Hz",
                      f"  T(beta = 1)      {_number(si['T_beta_1'])}",
                      f"  largest T        {_number(si['largest_T'])} at beta = {si['beta_of_largest_T']:.4g}",
                      "  T(beta)          " + ", ".join(f"{b}: {_number(v, 4)}" for b, v in si["T"].items())]
    return lines
