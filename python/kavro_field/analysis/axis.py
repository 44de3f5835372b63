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
# An integral of F below this share of the integral of |F| is a field odd in z: the integral is 0
# and what is left of it rounding.
ODD_SHARE = 1e-9
# The effective length and hard-edge field describe a field that keeps one sign on the axis:
# |integral F dz| at least this share of integral |F| dz.
ONE_SIGN_SHARE = 0.5


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
        the lower end is the element's middle), end_share_upper, integral (0 for an odd field,
        below `ODD_SHARE` of integral |F| dz: the rest is rounding), integral_square,
        integral_abs (integral |F| dz), effective_length ((integral F dz)^2 / integral F^2 dz) and
        hard_edge_field (integral F^2 dz / integral F dz), both None for a field that changes
        sign (|integral F dz| below `ONE_SIGN_SHARE` of integral |F| dz); odd and changes_sign
        say which rule applied.

    Examples
    --------
    >>> z = np.linspace(-1, 1, 201)
    >>> round(axis_numbers(z, np.ones(201))["effective_length"], 12)
    2.0
    >>> odd = axis_numbers(z, z)
    >>> odd["integral"], odd["odd"], odd["effective_length"]
    (0.0, True, None)
    """
    k = int(np.nanargmax(np.abs(field)))
    peak = float(field[k])
    integral = float(integrate(z, field))
    magnitude = float(integrate(z, np.abs(field)))
    square = float(integrate(z, field * field))
    odd = abs(integral) < ODD_SHARE * magnitude
    if odd:
        integral = 0.0
    one_sign = abs(integral) >= ONE_SIGN_SHARE * magnitude and integral != 0.0

    def share(v):
        return abs(float(v)) / abs(peak) if peak != 0 else None

    return {"peak": peak, "peak_z": float(z[k]),
            "end_share_lower": None if ksym_z != 0 else share(field[0]), "end_share_upper": share(field[-1]),
            "integral": integral, "integral_abs": magnitude, "integral_square": square,
            "effective_length": integral * integral / square if square and one_sign else None,
            "hard_edge_field": square / integral if one_sign else None,
            "odd": odd, "changes_sign": not one_sign and magnitude > 0.0}


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


def summarise_axis(f, length_unit=None, field_unit=None, momentum=None, frequency=None, control=None, kind=None,
                   particle=None, mass=None, charge=None, kinetic_energy=None):
    """The on-axis summary of a field file's whole element, the keys of `summary --json`.

    A file that holds a half (a symmetry flag set) is unfolded first (`FieldFile.unfold`); where
    the plane fits no parity the half's numbers are given, and "notes" says which. The units come
    from the options or the table's header (`units.resolve_units`); with them the numbers in SI
    and, given an energy, the element's first-order optics (`kavro_field.optics`). Every value is
    a finite number or None, with the reason in "notes".

    Parameters
    ----------
    f : FieldFile
    length_unit : {"m", "cm", "mm"}, optional
        The length unit of the table (and so of the file's grid).
    field_unit : str, optional
        A key of `units.FIELD_UNITS`.
    momentum : float, optional
        MeV/c: for a magnetic field alone (charge +1 e), or of `particle`.
    frequency : float, optional
        Frequency in Hz, for an RF amplitude (E): the transit-time factor.
    control : str or Trace, optional
        The control file of the conversion (or its folder, or its trace already made): the units
        of its table's header, its field kind, and the table's on-axis numbers beside the file's.
    kind : {"E", "B"}, optional
        The field kind, where neither the file nor a unit says it.
    particle : str, optional
        A name of `analysis.particles.PARTICLES`, or `mass` (MeV/c^2) and `charge` (e).
    kinetic_energy : float, optional
        MeV, instead of `momentum`.

    Returns
    -------
    dict

    Raises
    ------
    BadUsageError
        A value not finite and positive, an option that needs units without them or that does
        not apply to the field's kind, units that contradict the header or the file.

    Examples
    --------
    >>> s = summarise_axis(load(field_path), control=example, particle="electron", kinetic_energy=0.01)
    >>> s["axis"]["integral"], s["si"]["voltage"], s["units"]["field_unit"]  # an odd field
    (0.0, 0.0, 'V/cm')
    >>> s["optics"]["focal_length_image"] > 0
    True
    """
    from ..units import resolve_units
    from .particles import positive_finite
    for option, value in (("--momentum", momentum), ("--kinetic-energy", kinetic_energy),
                          ("--frequency", frequency), ("--mass", mass)):
        if value is not None:
            positive_finite(value, option)
    units = resolve_units(length_unit, field_unit, kind, control, f.kind)
    _options_apply(units, momentum, kinetic_energy, frequency, particle, mass, charge)
    kind = units.kind
    notes = list(units.notes)
    whole = f.unfold() if any(f.ksym) else f
    node = axis_node(whole.x_grid, whole.y_grid)
    if node is None:
        raise DamagedFileError(f.path, "no grid node lies on the axis: the on-axis field is not in the file")
    i, j = node
    z = whole.z_grid
    with np.errstate(all="ignore"):
        axial = np.array(whole.Fz[i, j, :], dtype=float)
        finite = np.isfinite(axial)
        if not finite.all():
            notes.append(f"{int((~finite).sum())} of the {len(axial)} on-axis values are not finite (NaN or Inf):"
                         " the numbers are of the finite part, those nodes taken as 0")
            axial[~finite] = 0.0
        bad = sum(int((~np.isfinite(c)).sum()) for c in whole.components)
        if bad and finite.all():
            notes.append(f"{bad} field values off the axis are not finite (NaN or Inf): the largest |F_t| is of the"
                         " finite part")
        transverse = np.sqrt(whole.Fx ** 2 + whole.Fy ** 2)
        t = np.unravel_index(int(np.argmax(np.where(np.isfinite(transverse), transverse, -1.0))), transverse.shape)
        out = {"file": f.path, "layout": f.layout, "kind": kind, "axis_node": [i, j],
               "z_range": [float(z[0]), float(z[-1])], "ksym": list(f.ksym),
               "element": "whole" if whole.unfolding is None or whole.unfolding.whole else "half",
               "element_text": whole.unfolding.describe(kind) if whole.unfolding is not None else "whole element as stored",
               "units": {"length_unit": units.length_unit, "field_unit": units.field_unit, "kind": kind,
                         "sources": dict(units.sources)},
               "axis": axis_numbers(z, axial, whole.ksym[2]),
               "transverse_max": {"value": float(transverse[t]) if np.isfinite(transverse[t]) else None,
                                  "x": float(whole.x_grid[t[0]]), "y": float(whole.y_grid[t[1]]),
                                  "z": float(whole.z_grid[t[2]])}}
        if units.inputs is not None:
            inputs = units.inputs
            out["control"] = dict(inputs.control)
            if inputs.r_node[0] == 0.0:
                table = axis_numbers(z, _column_at(inputs, z), whole.ksym[2])
                out["table_axis"] = table
                floor = ODD_SHARE * max(out["axis"]["integral_abs"], table["integral_abs"])
                out["relative_difference"] = {key: _relative(out["axis"][key], table[key],
                                                             floor if key == "integral" else 0.0)
                                              for key in AXIS_KEYS if key != "peak_z"}
        if out["axis"]["odd"]:
            notes.append("odd field: the integral of the on-axis field is below"
                         f" {ODD_SHARE:g} of the integral of its magnitude, and is given as 0")
        if out["axis"]["changes_sign"]:
            notes.append("no effective length or hard-edge field: the field changes sign")
        if units.known:
            out["si"] = _si(out, z, axial, kind, units.length_unit, units.field_unit, momentum, frequency,
                            particle is None and mass is None)
        if momentum is not None or kinetic_energy is not None:
            from .optics import optics
            o = optics(f, units.length_unit, units.field_unit, particle, momentum, kinetic_energy, mass, charge)
            out["optics"] = o.to_json()
            out["optics"]["thin_lens_difference"] = o.thin_lens_difference
            out["optics"]["particle"]["name"] = _particle_name(particle, mass, charge)
            out["optics"]["momentum" if momentum is not None else "kinetic_energy"] = \
                momentum if momentum is not None else kinetic_energy
    result = strict(out, notes)
    result["notes"] = notes
    return result


def _particle_name(particle, mass, charge):
    if particle is not None:
        return getattr(particle, "name", particle)
    if mass is None and charge is None:
        return "charge +1 e"
    return f"mass {mass:g} MeV/c^2, charge {charge:g} e" if mass is not None else f"charge {charge:g} e"


def _options_apply(units, momentum, kinetic_energy, frequency, particle, mass, charge):
    """A usage error for an option that needs what is not known, or does not apply to the kind."""
    from ..errors import BadUsageError
    given = [option for option, value in (("--momentum", momentum), ("--kinetic-energy", kinetic_energy),
                                          ("--frequency", frequency), ("--particle", particle), ("--mass", mass),
                                          ("--charge", charge)) if value is not None]
    for option in given:
        if not units.known:
            missing = " and ".join(option for option, value in (("--length-unit", units.length_unit),
                                                                 ("--field-unit", units.field_unit)) if value is None)
            raise BadUsageError(f"{option} needs the units: give {missing}, or --control")
    if frequency is not None and units.kind != "E":
        raise BadUsageError(f"--frequency is for an RF amplitude of E; this field is {units.kind}"
                            f" ({units.sources.get('kind')})")
    chosen = [option for option in given if option in ("--particle", "--mass", "--charge")]
    if chosen and momentum is None and kinetic_energy is None:
        raise BadUsageError(f"{chosen[0]} needs the energy: give --momentum or --kinetic-energy")
    if kinetic_energy is not None and particle is None and mass is None:
        raise BadUsageError("--kinetic-energy needs the particle's mass: give --particle, or --mass and --charge")
    if units.kind == "E" and momentum is not None and particle is None and mass is None:
        raise BadUsageError("the electric optics need the particle: give --particle, or --mass and --charge")


def strict(tree, notes, path=""):
    """`tree` with every float that is not finite replaced by None, a note naming each.

    Examples
    --------
    >>> notes = []
    >>> strict({"a": [1.0, float("nan")], "b": {"c": float("inf")}}, notes), notes
    ({'a': [1.0, None], 'b': {'c': None}}, ['a.1 is not finite (nan): null', 'b.c is not finite (inf): null'])
    """
    if isinstance(tree, dict):
        return {key: strict(value, notes, f"{path}.{key}" if path else str(key)) for key, value in tree.items()}
    if isinstance(tree, (list, tuple)):
        return [strict(value, notes, f"{path}.{k}") for k, value in enumerate(tree)]
    if isinstance(tree, float) and not math.isfinite(tree):
        notes.append(f"{path} is not finite ({tree!r}): null")
        return None
    return tree


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


def _si(out, z, axial, kind, length_unit, field_unit, momentum, frequency, unit_charge):
    to_m = LENGTH_UNITS[length_unit]
    to_si = FIELD_UNITS[field_unit][0]
    z_m = z * to_m
    field_si = axial * to_si
    a = out["axis"]
    si = {"length_unit": length_unit, "field_unit": field_unit, "kind": kind, "component": f"{kind}z",
          "peak": a["peak"] * to_si, "peak_z": a["peak_z"] * to_m,
          "integral": a["integral"] * to_si * to_m, "integral_abs": a["integral_abs"] * to_si * to_m,
          "integral_square": a["integral_square"] * to_si ** 2 * to_m,
          "effective_length": a["effective_length"] * to_m if a["effective_length"] is not None else None,
          "hard_edge_field": a["hard_edge_field"] * to_si if a["hard_edge_field"] is not None else None,
          "transverse_max": out["transverse_max"]["value"] * to_si if out["transverse_max"]["value"] is not None
          else None}
    if kind == "B" and momentum is not None and unit_charge:
        # The thin-lens numbers of a charge +1 e, as summary has always given them beside the optics.
        b_rho = momentum * 1e6 / SPEED_OF_LIGHT  # T m
        inverse_f = si["integral_square"] / (2 * b_rho) ** 2
        si.update({"momentum": momentum, "b_rho": b_rho, "inverse_focal_length": inverse_f,
                   "focal_length": 1 / inverse_f if inverse_f else None,
                   "larmor_angle": si["integral"] / (2 * b_rho)})
    if kind == "E":
        si["voltage"] = si["integral"]
        if frequency is not None:
            si["frequency"] = frequency
            si.update(transit_time(z_m, field_si, frequency))
    return si


def _number(v, digits=6):
    return "-" if v is None else f"{v:.{digits}g}"


def _with_unit(v, unit, digits=6):
    """A value and its unit; "-" alone for an absent value."""
    return "-" if v is None else f"{v:.{digits}g} {unit}"


def _why(a, key):
    """What follows a value in the text: why it is absent, or that an integral is 0 by symmetry."""
    if key in ("effective_length", "hard_edge_field") and a.get("changes_sign"):
        return " (the field changes sign)"
    if key in ("integral", "voltage") and a.get("odd"):
        return " (odd field)"
    return ""


def summary_lines(s):
    """The summary as `summary` prints it."""
    a, name = s["axis"], f"{s['kind'] or 'F'}z"
    table = s.get("table_axis")
    lines = [f"file              {s['file']} (layout {s['layout']}{', ' + s['kind'] if s['kind'] else ''})"]
    lines.append(f"element           {s['element_text']}")
    lines.append(f"axis              node [{s['axis_node'][0]}, {s['axis_node'][1]}], z from {s['z_range'][0]:.6g}"
                 f" to {s['z_range'][1]:.6g}")
    u = s["units"]
    lines.append("units             " + ", ".join(
        f"{what} {u[key]} ({u['sources'][key]})" if u[key] is not None else f"{what} not given"
        for what, key in (("length", "length_unit"), ("field", "field_unit"), ("kind", "kind"))))
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
        lines.append(line.rstrip() + _why(a, key))
    tm = s["transverse_max"]
    lines.append(f"{'largest |F_t|':<18}{_number(tm['value'], 8):>14}  at x = {tm['x']:.6g}, y = {tm['y']:.6g},"
                 f" z = {tm['z']:.6g}")
    si = s.get("si")
    if si:
        field_si, integral_si, square_si = ("T", "T m", "T^2 m") if si["kind"] == "B" else ("V/m", "V", "V^2/m")
        lines += [f"SI ({si['length_unit']}, {si['field_unit']} -> m, {field_si})",
                  f"  peak {name}        {_with_unit(si['peak'], field_si)} at z = {_with_unit(si['peak_z'], 'm')}",
                  f"  int {name} dz      {_with_unit(si['integral'], integral_si)}{_why(a, 'integral')}",
                  f"  int {name}^2 dz    {_with_unit(si['integral_square'], square_si)}",
                  f"  effective length {_with_unit(si['effective_length'], 'm')}{_why(a, 'effective_length')}",
                  f"  hard-edge field  {_with_unit(si['hard_edge_field'], field_si)}{_why(a, 'hard_edge_field')}"]
        if "b_rho" in si:  # the rotation is the optics' (the azimuth a ray turns through, with its sign)
            lines.append(f"  B rho            {_with_unit(si['b_rho'], 'T m')} at {si['momentum']:g} MeV/c")
        if "voltage" in si:
            lines.append(f"  voltage int E dz {_with_unit(si['voltage'], 'V')}{_why(a, 'voltage')}")
        if "T_beta_1" in si:
            lines += [f"  V(beta = 1)      {_with_unit(si['voltage_beta_1'], 'V')} at {si['frequency']:g} Hz",
                      f"  T(beta = 1)      {_number(si['T_beta_1'])}",
                      f"  largest T        {_number(si['largest_T'])} at beta = {si['beta_of_largest_T']:.4g}",
                      "  T(beta)          " + ", ".join(f"{b}: {_number(v, 4)}" for b, v in si["T"].items())]
    if "optics" in s:
        lines += optics_lines(s["optics"])
    if s["notes"]:
        lines.append("notes")
        lines += [f"  {note}" for note in s["notes"]]
    return lines


def optics_lines(o):
    """The "optics" object of a summary as text: thick-lens values with the thin lens beside."""
    energy = (f"momentum {o['momentum']:g} MeV/c" if "momentum" in o else f"kinetic energy {o['kinetic_energy']:g} MeV")
    lines = [f"optics            {o['particle']['name']}, {energy} (first order, from the first plane to the last)"]
    if o["focal_length_image"] is None:
        lines.append("  focal length     -" + (" (no focusing)" if any("no focusing" in n for n in o["notes"]) else ""))
    else:
        lines += [f"  focal length     image {_with_unit(o['focal_length_image'], 'm')},"
                  f" object {_with_unit(o['focal_length_object'], 'm')}",
                  f"  focal points     image z = {_with_unit(o['image_focal_point_z'], 'm')},"
                  f" object z = {_with_unit(o['object_focal_point_z'], 'm')}",
                  f"  principal planes image z = {_with_unit(o['image_principal_plane_z'], 'm')},"
                  f" object z = {_with_unit(o['object_principal_plane_z'], 'm')}"]
    thin = o["thin_lens_focal_length"]
    difference = o.get("thin_lens_difference")
    lines.append(f"  thin lens        {_with_unit(thin, 'm')}"
                 + (f" (relative difference from the image focal length {difference:.2g})" if difference is not None
                    else ""))
    if o["matrix"] is not None:
        (ma, mb), (mc, md) = o["matrix"]
        lines.append(f"  matrix           [[{ma:.8g}, {mb:.8g} m], [{mc:.8g} 1/m, {md:.8g}]]")
    if o["rotation_angle"] is not None:
        lines.append(f"  rotation angle   {_with_unit(o['rotation_angle'], 'rad')} (about +z)")
    if o["final_kinetic_energy"] is not None:
        lines.append(f"  final energy     {_with_unit(o['final_kinetic_energy'], 'MeV')} (kinetic)")
    lines += [f"  note: {note}" for note in o["notes"] if not note.startswith(("whole element", "half element"))]
    return lines
