"""Paraxial optics against closed forms and against rays traced independently through the
analytic field by the Lorentz force in the lab frame."""

import math

import numpy as np
import pytest

from kavro_field.analysis.optics import OpticsInputError, cumulative_integral, optics, paraxial_optics
from kavro_field.analysis.particles import PARTICLES, ParticleError, particle

C_LIGHT = 299_792_458.0


def uniform_solenoid_cases():
    # (charge, momentum MeV/c, field T, length m): weak, a quarter and most of a Larmor period.
    return [(1.0, 1.0, 0.01, 0.2), (-1.0, 10.0, 0.5, 0.3), (2.0, 50.0, 1.5, 0.9), (1.0, 5.0, 0.2, 0.05)]


@pytest.mark.parametrize("charge, p, b, length", uniform_solenoid_cases())
def test_uniform_solenoid_is_a_rotation_in_phase_space(charge, p, b, length):
    # The steps are refined until the focal length is stable to 1e-7: that is the accuracy.
    z = np.linspace(-length / 2, length / 2, 201)
    o = paraxial_optics(z, np.full(201, b), "B", particle(charge=charge), momentum=p)
    k = charge * b * C_LIGHT / (2 * p * 1e6)
    kl = k * length
    expected = [[math.cos(kl), math.sin(kl) / k], [-k * math.sin(kl), math.cos(kl)]]
    np.testing.assert_allclose(o.matrix, expected, rtol=1e-7, atol=1e-7 * max(1.0, 1 / abs(k)))
    assert o.rotation_angle == pytest.approx(-kl, rel=1e-12)
    assert o.thin_lens_focal_length == pytest.approx(1 / (k * k * length), rel=1e-12)
    f = 1 / (k * math.sin(kl))
    assert o.focal_length_image == pytest.approx(f, rel=1e-7)
    assert o.focal_length_object == pytest.approx(f, rel=1e-7)
    # Principal planes of a uniform lens: tan(kL/2) / k inside each end.
    inset = math.tan(kl / 2) / k
    assert o.image_principal_plane_z == pytest.approx(length / 2 - inset, abs=1e-7 * length)
    assert o.object_principal_plane_z == pytest.approx(-length / 2 + inset, abs=1e-7 * length)
    assert o.image_focal_point_z == pytest.approx(length / 2 - inset + f, abs=1e-7 * abs(f))


def uniform_e_cases():
    # (particle, T0 MeV, Ez V/m, length m): accelerated and decelerated, slow and relativistic.
    return [("proton", 0.01, 2e5, 0.5), ("electron", 0.05, -3e5, 0.1), ("alpha", 1.0, 1e6, 2.0),
            ("electron", 1.0, -5e6, 0.4)]


@pytest.mark.parametrize("name, t0, e, length", uniform_e_cases())
def test_uniform_e_field_only_changes_the_momentum(name, t0, e, length):
    part = PARTICLES[name]
    z = np.linspace(-length / 2, length / 2, 101)
    o = paraxial_optics(z, np.full(101, e), "E", part, kinetic_energy=t0)
    m, q = part.mass, part.charge
    t_end = t0 + q * e * 1e-6 * length
    gamma0, gamma1 = 1 + t0 / m, 1 + t_end / m
    p0, p1 = math.sqrt(t0 * (t0 + 2 * m)), math.sqrt(t_end * (t_end + 2 * m))
    # integral p0 / p dz with dT = q E dz: p0 / (q E) (arccosh gamma1 - arccosh gamma0)
    drift = p0 / (q * e * 1e-6) * (math.acosh(gamma1) - math.acosh(gamma0))
    np.testing.assert_allclose(o.matrix, [[1.0, drift], [0.0, p0 / p1]], rtol=1e-9, atol=0)
    assert o.final_kinetic_energy == pytest.approx(t_end, rel=1e-12)
    assert o.focal_length_image is None and o.thin_lens_focal_length is None
    assert "no focusing: C = 0 within rounding" in o.notes
    assert any("no thin-lens value" in n for n in o.notes)


@pytest.mark.parametrize("name, t0, e", [("proton", 0.01, -4e4), ("electron", 0.002, 1e4), ("alpha", 0.1, -1e5)])
def test_a_particle_the_field_stops_is_reported_with_where(name, t0, e):
    part = PARTICLES[name]
    z = np.linspace(0.0, 1.0, 51)
    o = paraxial_optics(z, np.full(51, e), "E", part, kinetic_energy=t0)
    stop = t0 / abs(part.charge * e * 1e-6)
    assert o.matrix is None and o.final_kinetic_energy is None
    note = [n for n in o.notes if "stops the particle" in n]
    assert note and f"z = {stop:.6g} m" in note[0]


def gaussian(z, sigma, m=0):
    u = z / sigma
    return [np.exp(-u * u / 2), -u / sigma * np.exp(-u * u / 2),
            (u * u - 1) / sigma ** 2 * np.exp(-u * u / 2)][m]


@pytest.mark.parametrize("b0, sigma, p", [(0.01, 0.02, 10.0), (0.002, 0.05, 3.0), (0.1, 0.01, 300.0)])
def test_weak_solenoid_tends_to_its_thin_lens(b0, sigma, p):
    z = np.linspace(-8 * sigma, 8 * sigma, 401)
    o = paraxial_optics(z, b0 * gaussian(z, sigma), "B", particle(charge=1), momentum=p)
    length = 16 * sigma
    assert length / o.focal_length_image < 1e-2
    assert abs(o.focal_length_image - o.thin_lens_focal_length) <= 1e-4 * o.focal_length_image
    # integral of (q B / 2p)^2 dz for the Gaussian: (q b0 / 2 B rho)^2 sigma sqrt(pi)
    k0 = b0 * C_LIGHT / (2 * p * 1e6)
    # The field is linear between the nodes: the integral of its square is off by about (h / sigma)^2 / 12.
    h = z[1] - z[0]
    assert 1 / o.thin_lens_focal_length == pytest.approx(k0 * k0 * sigma * math.sqrt(math.pi), rel=(h / sigma) ** 2 / 8)


def einzel_axis(z, v0, sigma):
    """Ez = -dV/dz and its derivative for V = v0 exp(-z^2 / 2 sigma^2): the same potential at both ends."""
    return -v0 * gaussian(z, sigma, 1), -v0 * gaussian(z, sigma, 2)


@pytest.mark.parametrize("strength", [1e-2, 1e-3])
@pytest.mark.parametrize("name", ["proton", "electron"])
def test_weak_einzel_lens_tends_to_the_weak_lens_formula(strength, name):
    part, sigma = PARTICLES[name], 0.01
    t0 = 1e-3 if name == "proton" else 1e-6  # non-relativistic: T / mc^2 about 1e-6
    v0 = strength * t0 * 1e6 / abs(part.charge)
    z = np.linspace(-9 * sigma, 9 * sigma, 401)
    o = paraxial_optics(z, einzel_axis(z, v0, sigma)[0], "E", part, kinetic_energy=t0)
    assert o.final_kinetic_energy == pytest.approx(t0, rel=1e-12)
    assert abs(o.focal_length_image / o.thin_lens_focal_length - 1) < 1e-4
    # First order in the strength: (3/16) (qV0/T0)^2 integral (z^2/sigma^4) e^(-z^2/sigma^2) dz
    first_order = 3 / 16 * strength ** 2 * math.sqrt(math.pi) / (2 * sigma)
    assert 1 / o.thin_lens_focal_length == pytest.approx(first_order, rel=3 * strength + 2e-3)


def rk4(rhs, s, z0, z1, steps):
    """The state s carried from z0 to z1 by classic Runge-Kutta in equal steps."""
    h = (z1 - z0) / steps
    for n in range(steps):
        z = z0 + n * h
        k1 = rhs(z, s)
        k2 = rhs(z + h / 2, s + h / 2 * k1)
        k3 = rhs(z + h / 2, s + h / 2 * k2)
        k4 = rhs(z + h, s + h * k3)
        s = s + h / 6 * (k1 + 2 * k2 + 2 * k3 + k4)
    return s


def trace_solenoid(b0, sigma, p_mev, charge, z0, z1, steps=10000, r0=1e-6):
    """A ray entering parallel at x = r0, traced by the Lorentz force through the analytic field
    (Bz = B(z), Br = -r B'(z) / 2) with z as the variable: returns r, dr/dz and the azimuth at z1."""
    scale = charge * C_LIGHT * 1e-6  # dp [MeV/c] / dz per T

    def rhs(z, s):
        x, y, px, py, pz = s
        b, db = b0 * gaussian(z, sigma), b0 * gaussian(z, sigma, 1)
        bx, by = -x * db / 2, -y * db / 2
        xp, yp = px / pz, py / pz
        return np.array([xp, yp, scale * (yp * b - by), scale * (bx - xp * b), scale * (xp * by - yp * bx)])

    s = rk4(rhs, np.array([r0, 0.0, 0.0, 0.0, p_mev]), z0, z1, steps)
    x, y, px, py, pz = s
    r = math.hypot(x, y)
    return r / r0, (x * px + y * py) / (r * pz) / r0, math.atan2(y, x)


def trace_einzel(v0, sigma, part, t0, z0, z1, steps=10000, r0=1e-6):
    """A ray entering parallel at r0, traced by the Lorentz force (Er = -r Ez' / 2) through the
    analytic field in (r, p_r, p_z): returns r / r0 and dr/dz / r0 at z1."""
    m, q = part.mass, part.charge * 1e-6  # MeV/c^2; MeV per V

    def rhs(z, s):
        r, pr, pz = s
        ez, dez = einzel_axis(z, v0, sigma)
        energy = math.sqrt(pr * pr + pz * pz + m * m)
        return np.array([pr / pz, q * (-r * dez / 2) * energy / pz, q * ez * energy / pz])

    s = rk4(rhs, np.array([r0, 0.0, math.sqrt(t0 * (t0 + 2 * m))]), z0, z1, steps)
    return s[0] / r0, s[1] / s[2] / r0


def thick_solenoid(nodes):
    b0, sigma, p = 0.15, 0.02, 3.0
    z = np.linspace(-8 * sigma, 8 * sigma, nodes)
    o = paraxial_optics(z, b0 * gaussian(z, sigma), "B", particle(charge=1), momentum=p)
    a, c, angle = trace_solenoid(b0, sigma, p, 1.0, z[0], z[-1])
    assert o.rotation_angle == pytest.approx(angle, rel=1e-9)
    assert o.thin_lens_difference > 1e-2  # a thick lens: the thin-lens value is off
    return (z[1] - z[0]) / sigma, [o.matrix[0][0] / a - 1, o.focal_length_image * c + 1]


def thick_einzel(nodes):
    part, sigma, t0 = PARTICLES["proton"], 0.01, 0.01
    v0 = 0.3 * t0 * 1e6
    z = np.linspace(-9 * sigma, 9 * sigma, nodes)
    o = paraxial_optics(z, einzel_axis(z, v0, sigma)[0], "E", part, kinetic_energy=t0)
    a, c = trace_einzel(v0, sigma, part, t0, z[0], z[-1])
    assert o.thin_lens_difference > 1e-2
    return (z[1] - z[0]) / sigma, [o.matrix[0][0] / a - 1, o.focal_length_image * c + 1]


@pytest.mark.parametrize("lens", [thick_solenoid, thick_einzel])
def test_thick_lens_agrees_with_a_lorentz_force_trace_to_the_interpolation_error(lens):
    """The file's field is linear between its nodes: A and the focal length depart from the
    ray traced through the analytic field by O(h^2), a quarter as much at twice the nodes."""
    step, coarse = lens(201)
    _, fine = lens(401)
    for c, f in zip(coarse, fine):
        assert abs(c) < 0.5 * step ** 2
        assert 3.5 < c / f < 4.5


@pytest.mark.parametrize("kwargs, message", [
    ({"momentum": 0.0}, "finite and positive"),
    ({"momentum": float("nan")}, "finite and positive"),
    ({"kinetic_energy": float("inf")}, "finite and positive"),
    ({"momentum": 1.0, "kinetic_energy": 1.0}, "one of them"),
    ({}, "one of them"),
])
def test_energies_that_cannot_be_used_are_refused(kwargs, message):
    with pytest.raises(ParticleError, match=message):
        paraxial_optics([0.0, 1.0], [1.0, 1.0], "B", particle(charge=1), **kwargs)


def test_electric_optics_need_a_mass():
    with pytest.raises(ParticleError, match="mass"):
        paraxial_optics([0.0, 1.0], [1.0, 2.0], "E", particle(charge=1), momentum=1.0)


def test_field_cut_at_an_end_is_noted():
    z = np.linspace(0.0, 0.1, 101)
    o = paraxial_optics(z, 0.1 * gaussian(z, 0.03), "B", particle(charge=1), momentum=5.0)
    assert [n.split(" (")[0] for n in o.notes if "cuts it" in n] == ["the field at the entrance"]


def test_json_holds_exactly_the_keys_of_the_optics():
    z = np.linspace(-0.1, 0.1, 11)
    keys = set(paraxial_optics(z, np.full(11, 0.1), "B", PARTICLES["proton"], kinetic_energy=1.0).to_json())
    assert keys == {"focal_length_image", "focal_length_object", "thin_lens_focal_length", "image_focal_point_z",
                    "object_focal_point_z", "image_principal_plane_z", "object_principal_plane_z", "matrix",
                    "rotation_angle", "final_kinetic_energy", "particle", "notes"}


@pytest.mark.parametrize("name", ["solenoid", "lens"])
def test_half_element_unfolded_gives_the_optics_of_the_whole(conversion, name):
    """The half (ksym_z) is sampled twice as finely as the whole: the optics agree to the
    interpolation error."""
    from kavro_field import load
    units = {"solenoid": ("cm", "G", dict(momentum=1.0)), "lens": ("cm", "V/cm", dict(kinetic_energy=0.005))}
    length_unit, field_unit, energy = units[name]
    part = "electron" if name == "lens" else None
    whole = optics(load(conversion(name)), length_unit, field_unit, part, **energy)
    half = optics(load(conversion(name, ksym=(0, 0, 1))), length_unit, field_unit, part, **energy)
    assert half.notes[0].startswith("whole element: the stored half z >= 0 unfolded")
    assert half.focal_length_image == pytest.approx(whole.focal_length_image, rel=1e-3)
    assert half.image_principal_plane_z == pytest.approx(whole.image_principal_plane_z,
                                                         abs=1e-3 * abs(whole.focal_length_image))


@pytest.mark.parametrize("length_unit, field_unit, problem", [
    (None, "T", OpticsInputError), ("cm", None, OpticsInputError), ("inch", "T", OpticsInputError),
    ("cm", "V/cm", OpticsInputError),
])
def test_units_missing_or_of_the_other_kind_are_refused(conversion, length_unit, field_unit, problem):
    from kavro_field import load
    f = load(conversion("solenoid", kform_3D=2))  # layout 2 states the kind: B
    with pytest.raises(problem):
        optics(f, length_unit, field_unit, momentum=1.0)


@pytest.mark.parametrize("ksym", [(0, 0, 0), (0, 0, 1), (1, 1, 1)])
def test_potential_of_the_lens_against_its_closed_form(conversion, ksym):
    """The analytic lens has Ez = v0 k sin(kz) on the axis (times scale_E): V = v0 (cos kz - cos kz0)."""
    from kavro_field import load
    k, amplitude = math.pi / 4, 10.0 * 1000.0
    z, v = load(conversion("lens", ksym=ksym, d_elm=7.6)).on_axis_potential()
    assert z[0] == pytest.approx(-3.8) and z[-1] == pytest.approx(3.8)
    np.testing.assert_allclose(v, amplitude * (np.cos(k * z) - np.cos(k * z[0])), atol=2e-4 * amplitude)


def test_electric_field_cut_at_the_ends_is_noted_with_the_focal_length_it_hides():
    """An einzel lens cut at 4 sigma: the end field is 0.03 % of the peak, yet its first-order kick
    carries about 1 % of C; the estimate without the cut matches the lens taken to 9 sigma."""
    part, sigma = PARTICLES["proton"], 0.01

    def lens(span):
        z = np.linspace(-span * sigma, span * sigma, 401)
        return paraxial_optics(z, einzel_axis(z, 3000.0, sigma)[0], "E", part, kinetic_energy=0.01)

    whole, cut = lens(9), lens(4)
    assert not [n for n in whole.notes if "cut at the ends" in n]
    note = [n for n in cut.notes if "cut at the ends" in n]
    assert note and not [n for n in cut.notes if "cuts it" in n]  # below the fringe threshold
    estimate = float(note[0].split("would be about ")[1].split(" m")[0])
    assert estimate == pytest.approx(whole.focal_length_image, rel=1e-3)
    assert abs(cut.focal_length_image / whole.focal_length_image - 1) > 5e-3
