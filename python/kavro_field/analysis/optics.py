"""First-order (paraxial) optics of an axially symmetric element from its on-axis field.

The ray equation (p r')' + K(z) r = 0 is integrated from the element's first plane to its last
on the field the file holds along its axis, taken as linear between the nodes (the interpolation
a tracking code applies between the nodes of the file):

- magnetic, in the frame that turns with the Larmor angle: p constant, K / p = (q Bz / 2p)^2;
  the ray turns in the lab by -integral q Bz / (2p) dz about +z;
- electric: K = q E_z' / (2 v), E_z' the slope of the on-axis field in each cell (the derivative
  of the same line), with the kinetic energy T(z) = T0 + q integral E_z dz exact for a field
  linear in each cell, and p, v from T and the rest mass.

Each cell's transfer matrix comes from classic Runge-Kutta steps (all cells at once); the steps
are halved until the matrix, and with it the focal length, is stable to 1e-7. No kick is added
at an end where the field is cut: a tracker reading the file sees the field stop there.
"""

import math
from dataclasses import asdict, dataclass
from typing import TYPE_CHECKING, NamedTuple, Optional, Tuple, Union

import numpy as np

from ..errors import BadUsageError, FieldFileError
from .particles import Particle, ParticleError, particle as make_particle, positive_finite
from ..fieldfiles.grid import axis_node
from .coverage import FRINGE_SHARE
from ..units import FIELD_UNITS, LENGTH_UNITS

if TYPE_CHECKING:
    from ..fieldfiles.fieldfile import FieldFile

SPEED_OF_LIGHT = 299_792_458.0  # m/s
# The focal length is stable to this relative change between two halvings of the step.
FOCAL_TOLERANCE = 1e-7
# Steps per cell are doubled up to this count.
MAX_STEPS_PER_CELL = 1 << 12
# C below this share of the focusing the element holds (integral |K| / p dz) is rounding: no focusing.
ROUNDING_SHARE = 1e-12
# A cut end whose kick on the ray (a first-order effect of an electric field) exceeds this share
# of C gets a note.
CUT_KICK_SHARE = 1e-3
# The kinetic energy at the two ends is the same within this share of T0 + integral |q E| dz.
ENERGY_SHARE = 1e-9
# Gauss-Legendre points on [0, 1] for the integrals of smooth functions over each cell.
_GAUSS_X, _GAUSS_W = (0.5 * (v + 1.0) if i == 0 else 0.5 * v for i, v in enumerate(np.polynomial.legendre.leggauss(6)))


class OpticsInputError(BadUsageError):
    """The optics cannot be computed from what was given: a unit or field kind missing or
    contradicting the file."""


@dataclass(frozen=True)
class Optics:
    """First-order optics of an element, in SI units (m, rad, MeV).

    Attributes
    ----------
    focal_length_image, focal_length_object : float or None
        -1/C and -(AD - BC)/C; None where the element does not focus (C = 0 within rounding).
    thin_lens_focal_length : float or None
        Magnetic: 1/f = integral K dz / p. Electric: the non-relativistic weak-lens formula
        1/f = (3/16) integral (T'/T)^2 dz, only where T is the same at both ends.
    image_focal_point_z, object_focal_point_z : float or None
    image_principal_plane_z, object_principal_plane_z : float or None
        Positions in the file's own frame (z = 0 at the element's centre), in m.
    matrix : tuple or None
        ((A, B), (C, D)) of (r [m], r' [rad]) from the first plane to the last.
    rotation_angle : float or None
        Magnetic: the azimuth a ray turns through in the lab, right-handed about +z, in rad.
    final_kinetic_energy : float or None
        Electric: T at the last plane in MeV.
    particle : dict
        {"mass": MeV/c^2 or None, "charge": e}.
    notes : tuple of str
        Why a value is absent, how the numbers were obtained, what they depend on.

    Examples
    --------
    Uniform 0.01 T over 20 cm for 1 MeV/c, charge +1: k = qB / 2p, f = 1 / (k sin kL), thin 1 / (k^2 L).

    >>> z = np.linspace(-0.1, 0.1, 201)
    >>> o = paraxial_optics(z, np.full(201, 0.01), "B", make_particle(charge=1.0), momentum=1.0)
    >>> k = 0.01 * SPEED_OF_LIGHT / 2e6
    >>> round(o.rotation_angle, 6), round(o.focal_length_image * k * math.sin(0.2 * k), 9)
    (-0.299792, 1.0)
    >>> round(o.thin_lens_focal_length * k * k * 0.2, 12), round(o.thin_lens_difference, 4)
    (1.0, 0.0149)
    """

    focal_length_image: Optional[float]
    focal_length_object: Optional[float]
    thin_lens_focal_length: Optional[float]
    image_focal_point_z: Optional[float]
    object_focal_point_z: Optional[float]
    image_principal_plane_z: Optional[float]
    object_principal_plane_z: Optional[float]
    matrix: Optional[Tuple[Tuple[float, float], Tuple[float, float]]]
    rotation_angle: Optional[float]
    final_kinetic_energy: Optional[float]
    particle: dict
    notes: Tuple[str, ...]

    @property
    def thin_lens_difference(self) -> Optional[float]:
        """|f_image - f_thin| / |f_image|: how far the thin lens is from the thick one."""
        if self.focal_length_image is None or self.thin_lens_focal_length is None:
            return None
        return abs(self.focal_length_image - self.thin_lens_focal_length) / abs(self.focal_length_image)

    def to_json(self) -> dict:
        """The keys of the "optics" object of `summary --json` (None for absent values).

        Examples
        --------
        >>> sorted(paraxial_optics([0.0, 1.0], [0.0, 0.0], "B", make_particle(charge=1.0), momentum=1.0).to_json())[:3]
        ['final_kinetic_energy', 'focal_length_image', 'focal_length_object']
        """
        out = asdict(self)
        out["matrix"] = None if self.matrix is None else [list(row) for row in self.matrix]
        out["notes"] = list(self.notes)
        return out


class Potential(NamedTuple):
    """The on-axis potential V(z) = -integral E_z dz from the first node (V = 0 there).

    Attributes
    ----------
    z : numpy.ndarray
    V : numpy.ndarray
        In the field unit times the length unit (V in SI units).
    """

    z: np.ndarray
    V: np.ndarray


def cumulative_integral(z, values) -> np.ndarray:
    """Integral from z[0] of values linear between the nodes: the trapezoid rule, exact here.

    Examples
    --------
    >>> cumulative_integral([0.0, 1.0, 3.0], [1.0, 1.0, 2.0]).tolist()
    [0.0, 1.0, 4.0]
    """
    z = np.asarray(z, dtype=float)
    values = np.asarray(values, dtype=float)
    return np.concatenate(([0.0], np.cumsum(np.diff(z) * (values[:-1] + values[1:]) / 2)))


def _rk4_cells(h, coefficients, steps):
    """Transfer matrices of y' = [[0, a12(s)], [a21(s), 0]] y over each cell [0, h].

    `coefficients(t)` gives (a12, a21) per cell at the share t of each cell (an array of cells).
    Returns shape (cells, 2, 2).
    """
    cells = len(h)
    y = np.zeros((cells, 2, 2))
    y[:, 0, 0] = y[:, 1, 1] = 1.0
    dt = 1.0 / steps

    def derivative(t, y):
        a12, a21 = coefficients(t)
        d = np.empty_like(y)
        d[:, 0, :] = (a12 * h)[:, None] * y[:, 1, :]
        d[:, 1, :] = (a21 * h)[:, None] * y[:, 0, :]
        return d

    for n in range(steps):
        t = n * dt
        k1 = derivative(t, y)
        k2 = derivative(t + dt / 2, y + (dt / 2) * k1)
        k3 = derivative(t + dt / 2, y + (dt / 2) * k2)
        k4 = derivative(t + dt, y + dt * k3)
        y = y + (dt / 6) * (k1 + 2 * k2 + 2 * k3 + k4)
    return y


def _chain(matrices):
    """The product M_last ... M_first of the cells' matrices, by pairs."""
    m = matrices
    while len(m) > 1:
        if len(m) % 2:
            m = np.concatenate((m, np.eye(2)[None]), axis=0)
        m = m[1::2] @ m[0::2]
    return m[0]


def _kinetic_in_cells(t_nodes, qe0, qe1, h, t):
    """T at the share t of each cell, the field linear in the cell (q E in MeV/m)."""
    s = t * h
    return t_nodes[:-1] + qe0 * s + (qe1 - qe0) * s * s / (2 * h)


def _stop_point(z, t_nodes, qe):
    """The first z where T reaches 0, or None (T quadratic in each cell)."""
    h = np.diff(z)
    a = (qe[1:] - qe[:-1]) / (2 * h)
    b = qe[:-1]
    c = t_nodes[:-1]
    # The vertex of the parabola; a cell whose field is constant has none (-1: not inside).
    vertex = np.where(a != 0, -b / (2 * np.where(a != 0, a, 1.0)), -1.0)
    inside = (vertex > 0) & (vertex < h)
    lowest = np.minimum(t_nodes[1:], np.where(inside, c + b * vertex + a * vertex * vertex, np.inf))
    stopped = np.nonzero((lowest <= 0) | (c <= 0))[0]
    if not len(stopped):
        return None
    k = int(stopped[0])
    if c[k] <= 0:
        return float(z[k])
    roots = np.roots([a[k], b[k], c[k]]) if a[k] != 0 else np.array([-c[k] / b[k]])
    roots = [r.real for r in roots if abs(r.imag) <= 1e-12 * h[k] and -1e-12 * h[k] <= r.real <= h[k] * (1 + 1e-12)]
    return float(z[k] + min(roots)) if roots else float(z[k + 1])


def _result(particle, notes, **values):
    keys = ("focal_length_image", "focal_length_object", "thin_lens_focal_length", "image_focal_point_z",
            "object_focal_point_z", "image_principal_plane_z", "object_principal_plane_z", "matrix",
            "rotation_angle", "final_kinetic_energy")
    fields = {key: values.get(key) for key in keys}
    return Optics(**fields, particle={"mass": particle.mass, "charge": particle.charge}, notes=tuple(notes))


def _fringe_notes(z, field):
    peak = float(np.max(np.abs(field)))
    notes = []
    if peak == 0.0:
        return notes
    for end, k in (("entrance", 0), ("exit", -1)):
        share = abs(float(field[k])) / peak
        if share > FRINGE_SHARE:
            notes.append(f"the field at the {end} (z = {z[k]:.6g} m) is {share:.3g} of its peak: the file cuts it"
                         " there, and the optics depend on what the tracker does at that end")
    return notes


def paraxial_optics(z_m, field_si, kind: str, particle: Particle, momentum: Optional[float] = None,
                    kinetic_energy: Optional[float] = None) -> Optics:
    """First-order optics of the on-axis longitudinal field `field_si` at the nodes `z_m`.

    Parameters
    ----------
    z_m : array_like
        Increasing node positions in m (the element's first plane to its last).
    field_si : array_like
        Bz in T (kind "B") or Ez in V/m (kind "E") at the nodes; linear between them.
    kind : {"B", "E"}
    particle : Particle
        Charge in e; the mass in MeV/c^2 is needed for an electric field or a kinetic energy.
    momentum, kinetic_energy : float
        One of them, at the first plane: MeV/c or MeV, finite and positive.

    Returns
    -------
    Optics

    Raises
    ------
    ParticleError
        No energy, both, or one that is not finite and positive; a mass needed and missing.
    OpticsInputError
        An unknown kind, fewer than two nodes or nodes that do not increase.

    Examples
    --------
    Two metres of uniform 0.1 T for a 10 MeV/c charge +1: a quarter of the Larmor period, so the
    focal point lies on the exit plane.

    >>> k = 0.1 * SPEED_OF_LIGHT / (2 * 10e6)
    >>> length = math.pi / (2 * k)
    >>> z = np.linspace(0, length, 101)
    >>> o = paraxial_optics(z, np.full(101, 0.1), "B", make_particle(charge=1), momentum=10.0)
    >>> abs(o.image_focal_point_z - length) < 1e-9, round(o.focal_length_image * k, 9)
    (True, 1.0)
    """
    z = np.asarray(z_m, dtype=float)
    field = np.asarray(field_si, dtype=float)
    if kind not in ("B", "E"):
        raise OpticsInputError(f"the field kind must be B or E, not {kind!r}")
    if z.ndim != 1 or z.shape != field.shape or len(z) < 2:
        raise OpticsInputError("the optics need the field at two nodes or more, one value per node")
    if not np.all(np.diff(z) > 0):
        raise OpticsInputError("the nodes must increase along z")
    if (momentum is None) == (kinetic_energy is None):
        raise ParticleError("give the momentum or the kinetic energy, one of them")
    if momentum is not None:
        p0 = positive_finite(momentum, "the momentum")
        t0 = particle.kinetic_energy(p0) if particle.mass is not None else None
    else:
        t0 = positive_finite(kinetic_energy, "the kinetic energy")
        p0 = particle.momentum(t0)
    if kind == "E" and particle.mass is None:
        raise ParticleError("the electric optics need the particle's mass: give --particle, or --mass and --charge")
    notes = []
    if not np.all(np.isfinite(field)):
        return _result(particle, ["the on-axis field holds values that are not finite: no optics"])
    notes += _fringe_notes(z, field)
    h = np.diff(z)
    q = particle.charge
    if kind == "B":
        b_rho = p0 * 1e6 / SPEED_OF_LIGHT  # T m per unit charge
        k_nodes = q * field / (2 * b_rho)  # 1/m, linear between the nodes
        k0, k1 = k_nodes[:-1], k_nodes[1:]
        one = np.ones_like(h)

        def coefficients(t):
            k = k0 + (k1 - k0) * t
            return one, -k * k

        focusing = float(np.sum(h * (k0 * k0 + k0 * k1 + k1 * k1) / 3))  # integral (qBz / 2p)^2 dz, exact
        scale = focusing
        p_end = 1.0
        p_start = 1.0
        rotation = -float(np.sum(h * (k0 + k1) / 2))
        final = None
        thin = 1.0 / focusing if focusing > 0 else None
        if thin is None:
            notes.append("no thin-lens value: the field is zero")
    else:
        if t0 is None:
            t0 = particle.kinetic_energy(p0)
        qe = q * field * 1e-6  # MeV/m
        t_nodes = t0 + cumulative_integral(z, qe)
        stop = _stop_point(z, t_nodes, qe)
        if stop is not None:
            return _result(particle, notes + [f"the field stops the particle at z = {stop:.6g} m (T falls to 0"
                                             f" from {t0:.6g} MeV): no optics"])
        m = particle.required_mass()
        qe0, qe1 = qe[:-1], qe[1:]
        slope = (qe1 - qe0) / h  # q E_z' in MeV/m^2, constant in each cell

        def momentum_at(t):
            kinetic = _kinetic_in_cells(t_nodes, qe0, qe1, h, t)
            return np.sqrt(kinetic * (kinetic + 2 * m)), kinetic

        def coefficients(t):
            p, kinetic = momentum_at(t)
            beta = p / (kinetic + m)
            return 1.0 / p, -slope / (2 * beta)

        p_start = p0
        p_nodes = np.sqrt(t_nodes * (t_nodes + 2 * m))
        p_end = float(p_nodes[-1])
        beta_nodes = p_nodes / (t_nodes + m)
        scale = float(np.sum(h * np.abs(slope) / (2 * np.minimum(beta_nodes[:-1], beta_nodes[1:])
                                                  * np.minimum(p_nodes[:-1], p_nodes[1:]))))
        rotation = None
        final = float(t_nodes[-1])
        if abs(final - t0) <= ENERGY_SHARE * (t0 + float(cumulative_integral(z, np.abs(qe))[-1])):
            # (T'/T)^2 over each cell by Gauss-Legendre: a smooth rational function there.
            kin = np.stack([_kinetic_in_cells(t_nodes, qe0, qe1, h, x) for x in _GAUSS_X])
            field_at = np.stack([qe0 + (qe1 - qe0) * x for x in _GAUSS_X])
            weak = 3.0 / 16.0 * float(np.sum(h * np.tensordot(_GAUSS_W, (field_at / kin) ** 2, axes=1)))
            thin = 1.0 / weak if weak > 0 else None
            notes.append("thin-lens value: the non-relativistic weak-lens formula 1/f = (3/16) integral (T'/T)^2 dz")
        else:
            thin = None
            notes.append(f"no thin-lens value: the field changes the kinetic energy from {t0:.6g} MeV to"
                         f" {final:.6g} MeV")
    steps, previous = 1, None
    while True:
        cells = _rk4_cells(h, coefficients, steps)
        m_u = _chain(cells)
        # From (r, u = p r') to (r, r'): u = p r' at each end.
        matrix = np.array([[m_u[0, 0], m_u[0, 1] * p_start], [m_u[1, 0] / p_end, m_u[1, 1] * p_start / p_end]])
        rounding = ROUNDING_SHARE * scale
        if previous is not None:
            change = np.abs(matrix - previous)
            floor = np.array([[FOCAL_TOLERANCE, FOCAL_TOLERANCE * (z[-1] - z[0])], [rounding, FOCAL_TOLERANCE]])
            if np.all(change <= FOCAL_TOLERANCE * np.abs(matrix) + floor):
                break
            if steps >= MAX_STEPS_PER_CELL:
                notes.append(f"the matrix did not settle to {FOCAL_TOLERANCE:g} with {steps} steps per cell")
                break
        previous = matrix
        steps *= 2
    notes.append(f"field linear between the nodes; {steps} Runge-Kutta steps per cell, the focal length stable"
                 f" to {FOCAL_TOLERANCE:g}")
    (a, b), (c, d) = matrix.tolist()
    values = {"matrix": ((a, b), (c, d)), "rotation_angle": rotation, "final_kinetic_energy": final,
              "thin_lens_focal_length": thin}
    if abs(c) <= rounding:
        notes.append("no focusing: C = 0 within rounding")
        return _result(particle, notes, **values)
    if kind == "E":
        # The focusing of an electric lens is of second order in its field, the kick of a field
        # cut at an end (E_z falling to 0 there, as a tracker reading the file sees it) of the
        # first: even a small end field can carry a good part of C.
        kick = qe[-1] / (2 * beta_nodes[-1] * p_nodes[-1]) - qe[0] / (2 * beta_nodes[0] * p_nodes[0])
        if abs(kick) > CUT_KICK_SHARE * abs(c):
            notes.append(f"the field cut at the ends (Ez {field[0]:.4g} V/m at the entrance, {field[-1]:.4g} V/m at the"
                         f" exit) gives about {abs(kick / c):.2g} of C, as a tracker that stops the field there"
                         " sees it; were the field to fall to 0 beyond the ends, the focal length would be about"
                         f" {-1.0 / (c + kick):.4g} m")
    det = a * d - b * c
    z_in, z_out = float(z[0]), float(z[-1])
    values.update(focal_length_image=-1.0 / c, focal_length_object=-det / c,
                  image_focal_point_z=z_out - a / c, image_principal_plane_z=z_out + (1.0 - a) / c,
                  object_focal_point_z=z_in + d / c, object_principal_plane_z=z_in + (d - det) / c)
    return _result(particle, notes, **values)


def _units(length_unit, field_unit):
    if length_unit is None or field_unit is None:
        raise OpticsInputError("the optics need the units: give the length unit and the field unit")
    if length_unit not in LENGTH_UNITS:
        raise OpticsInputError(f"unknown length unit {length_unit!r}: one of {', '.join(LENGTH_UNITS)}")
    if field_unit not in FIELD_UNITS:
        raise OpticsInputError(f"unknown field unit {field_unit!r}: one of {', '.join(FIELD_UNITS)}")
    return (LENGTH_UNITS[length_unit],) + FIELD_UNITS[field_unit]


def _axis(f):
    node = axis_node(f.x_grid, f.y_grid)
    if node is None:
        raise FieldFileError(f.path, "no grid node lies on the axis: the on-axis field is not in the file")
    return f.z_grid, f.Fz[node[0], node[1], :]


def _whole(f):
    """The whole element where the file holds a half, with the line that says what was done."""
    if not any(f.ksym):
        return f, []
    from ..fieldfiles.unfold import unfold
    g = unfold(f)
    return g, [g.unfolding.describe(g.kind)]


def on_axis_potential(f: "FieldFile", length_unit: Optional[str] = None, field_unit: Optional[str] = None) -> Potential:
    """V(z) = -integral E_z dz along the axis of the whole element, 0 at its first plane.

    The field is linear between the nodes, as in the optics, so the trapezoid rule is exact.

    Parameters
    ----------
    f : FieldFile
    length_unit, field_unit : str, optional
        Both given: z in m and V in volts; else the file's own units (z, and field times length).

    Returns
    -------
    Potential

    Examples
    --------
    Ez = -2 z V/cm on the axis between z = -1 and 1 cm: V = z^2 - 1 in V.

    >>> from kavro_field import FieldFile
    >>> xy, z = np.linspace(-1.0, 1.0, 3), np.linspace(-1.0, 1.0, 201)
    >>> ez = np.broadcast_to(-2.0 * z, (3, 3, 201))
    >>> f = FieldFile("lens", 2, "E", xy, xy, z, (-1.0, 1.0), (-1.0, 1.0), (-1.0, 1.0), (0, 0, 0),
    ...               None, None, 0.0 * ez, 0.0 * ez, ez)
    >>> v = on_axis_potential(f, "cm", "V/cm")
    >>> round(float(v.V[100]), 4), float(v.z[-1])
    (-1.0, 0.01)
    """
    g, _ = _whole(f)
    z, axial = _axis(g)
    if length_unit is not None or field_unit is not None:
        to_m, to_si, unit_kind = _units(length_unit, field_unit)
        if unit_kind != "E" or (g.kind is not None and g.kind != "E"):
            raise OpticsInputError("the potential is of an electric field")
        z, axial = z * to_m, axial * to_si
    return Potential(z.copy(), -cumulative_integral(z, axial))


def optics(f: "FieldFile", length_unit: Optional[str] = None, field_unit: Optional[str] = None,
           particle: Union[str, Particle, None] = None,
           momentum: Optional[float] = None, kinetic_energy: Optional[float] = None,
           mass: Optional[float] = None, charge: Optional[float] = None) -> Optics:
    """First-order optics of a field file's whole element (see `paraxial_optics`).

    A file holding a half is unfolded first (`unfold`); the notes say so, or why the half was
    kept ("half element: ...").

    Parameters
    ----------
    f : FieldFile
    length_unit : {"m", "cm", "mm"}
    field_unit : str
        "T", "G", "kG", "mT" or "V/m", "V/cm", "kV/cm", "MV/m".
    particle : str or Particle, optional
        A name of the catalogue (`kavro_field.analysis.particles.PARTICLES`); or give `mass` and
        `charge`. For a magnetic field the momentum alone means a charge of +1 e.
    momentum, kinetic_energy : float
        MeV/c or MeV, one of them.
    mass, charge : float, optional
        MeV/c^2 and e, for a particle outside the catalogue.

    Returns
    -------
    Optics

    Raises
    ------
    OpticsInputError, ParticleError, FieldFileError

    Examples
    --------
    A uniform Bz of 1000 G over 20 cm, a 10 MeV/c proton: f = 1 / (k sin kL), k = qB / 2p.

    >>> from kavro_field import FieldFile
    >>> xy, z = np.linspace(-1.0, 1.0, 3), np.linspace(-10.0, 10.0, 101)
    >>> bz = np.full((3, 3, 101), 1000.0)
    >>> f = FieldFile("solenoid", 2, "B", xy, xy, z, (-1.0, 1.0), (-1.0, 1.0), (-10.0, 10.0), (0, 0, 0),
    ...               None, None, 0.0 * bz, 0.0 * bz, bz)
    >>> o = optics(f, "cm", "G", "proton", momentum=10.0)
    >>> k = 0.1 * SPEED_OF_LIGHT / 2e7
    >>> round(o.focal_length_image * k * math.sin(0.2 * k), 9), o.particle["charge"]
    (1.0, 1.0)
    """
    to_m, to_si, unit_kind = _units(length_unit, field_unit)
    if f.kind is not None and f.kind != unit_kind:
        raise OpticsInputError(f"the file holds {f.kind}, but {field_unit} is a unit of {unit_kind}")
    if isinstance(particle, Particle):
        chosen = particle
    elif particle is not None or mass is not None or charge is not None:
        chosen = make_particle(particle, mass, charge)
    elif unit_kind == "B":
        chosen = make_particle(charge=1.0)
    else:
        raise ParticleError("the electric optics need the particle: give --particle, or --mass and --charge")
    g, notes = _whole(f)
    z, axial = _axis(g)
    result = paraxial_optics(z * to_m, axial * to_si, unit_kind, chosen, momentum, kinetic_energy)
    return _with_notes(result, notes)


def _with_notes(result: Optics, notes) -> Optics:
    from dataclasses import replace
    return replace(result, notes=tuple(notes) + result.notes)
