"""Units stated by a solver table's header, and the particle catalogue."""

import math
import os

import numpy as np
import pytest

import analytic
from kavro_field.inputs import trace
from kavro_field.analysis.particles import PARTICLES, ParticleError, particle
from kavro_field.inputs.table_units import table_units


def table(labels, limits_unit=""):
    rows = "\n".join(f"{r} {z} 0.0 1.0" for z in (-1.0, 0.0, 1.0) for r in (0.0, 0.5, 1.0))
    return (f"Solver output\n\n(Rmin,Zmin) :   0.0 , -1.0 {limits_unit}\n(Rmax,Zmax) :   1.0 , 1.0 {limits_unit}\n"
            f"Intervals (r,z) :      2      2\n\n   {labels}\n\n{rows}\n")


@pytest.mark.parametrize("labels, limits_unit, length, field, where", [
    ("R(mm) Z(mm) Br(T) Bz(T)", "", "mm", "T", "mm.txt line 7 heads the columns R(mm) Z(mm)"),
    ("R(cm)  Z(cm)  Br(Gauss)  Bz(Gauss)", "", "cm", "G", "mm.txt line 7 heads the columns R(cm) Z(cm)"),
    ("R Z Br(kG) Bz(kG)", "cm", "cm", "kG", "mm.txt line 3 gives the limits in cm"),
    ("r [m]  z [m]  Br [mT]  Bz [mT]", "", "m", "mT", "mm.txt line 7 heads the columns r[m] z[m]"),
    ("R(cm) Z(cm) Er(V/cm) Ez(V/cm)", "cm", "cm", "V/cm", "mm.txt line 7 heads the columns R(cm) Z(cm)"),
    ("R Z Er(kV/cm) Ez(kV/cm)", "", None, "kV/cm", None),
    ("R Z Er(MV/m) Ez(MV/m)", "m", "m", "MV/m", "mm.txt line 3 gives the limits in m"),
    ("R  Z  Fr  Fz", "", None, None, None),
])
def test_units_and_where_the_header_states_them(labels, limits_unit, length, field, where):
    u = table_units(table(labels, limits_unit), "/some/where/mm.txt")
    assert (u.length and u.length.unit, u.field and u.field.unit) == (length, field)
    assert (u.length.where() if u.length else None) == where
    assert not u.conflicts


@pytest.mark.parametrize("labels, option, value, refusal", [
    ("R(mm) Z(mm) Br(T) Bz(T)", "--length-unit", "cm", "--length-unit cm, but mm.txt line 7 heads the columns R(mm) Z(mm)"),
    ("R(mm) Z(mm) Br(T) Bz(T)", "--length-unit", "mm", None),
    ("R(mm) Z(mm) Br(G) Bz(G)", "--field-unit", "T", "--field-unit T, but mm.txt line 7 heads the columns Br(G) Bz(G)"),
    ("R(mm) Z(mm) Br(Gauss) Bz(Gauss)", "--field-unit", "G", None),
    ("R  Z  Fr  Fz", "--field-unit", "G", None),
])
def test_an_option_that_contradicts_the_header_is_refused_with_both_texts(labels, option, value, refusal):
    assert table_units(table(labels), "mm.txt").refusal(option, value) == refusal


def test_two_different_units_for_one_quantity_are_a_conflict():
    u = table_units(table("R(mm) Z(cm) Br(T) Bz(T)"), "t.txt")
    assert u.length is None and u.field.unit == "T"
    assert u.conflicts == ("the header states the length unit as mm and cm: t.txt line 7 heads the columns R(mm);"
                           " t.txt line 7 heads the columns Z(cm)",)


def test_the_trace_of_a_conversion_gives_the_same_units(tmp_path):
    text = table("R(mm) Z(mm) Br(Gauss) Bz(Gauss)")
    (tmp_path / "table.txt").write_text(text)
    analytic.write_control(str(tmp_path), analytic.FIELDS["gaussian"])
    from_trace = table_units(trace(str(tmp_path)))
    from_text = table_units(text, os.path.join(str(tmp_path), "table.txt"))
    assert from_trace == from_text
    assert from_trace.field.line == 7 and from_trace.field.labels == ("Br(Gauss)", "Bz(Gauss)")


@pytest.mark.parametrize("name, mass, charge", [
    ("electron", 0.51099895000, -1), ("positron", 0.51099895000, 1), ("proton", 938.27208816, 1),
    ("antiproton", 938.27208816, -1), ("deuteron", 1875.61294257, 1), ("alpha", 3727.3794066, 2),
    ("H-", 939.2940717074, -1),
])
def test_catalogue_and_relativistic_relations(name, mass, charge):
    p = particle(name)
    assert p.mass == pytest.approx(mass, rel=1e-10) and p.charge == charge
    for t in (1e-6, 1.0, 1e4):
        momentum = p.momentum(t)
        assert momentum ** 2 == pytest.approx(t * t + 2 * t * p.mass, rel=1e-12)  # E^2 = p^2 + m^2
        assert p.kinetic_energy(momentum) == pytest.approx(t, rel=1e-12)
        assert p.gamma_of_kinetic(t) == pytest.approx(1 + t / p.mass, rel=1e-15)
        # beta = sqrt(gamma^2 - 1) / gamma, with gamma - 1 = T / m kept apart from the 1
        u = t / p.mass
        assert p.beta_of_kinetic(t) == pytest.approx(math.sqrt(u * (u + 2)) / (1 + u), rel=1e-12)


@pytest.mark.parametrize("kwargs, message", [
    ({"name": "muon"}, "unknown particle"),
    ({"name": "proton", "charge": 1}, "its own mass and charge"),
    ({"mass": 100.0}, "a name, or a mass and a charge"),
    ({"mass": 0.0, "charge": 1}, "finite and positive"),
    ({"mass": float("nan"), "charge": 1}, "finite and positive"),
    ({"mass": 1.0, "charge": 0}, "finite and nonzero"),
    ({"mass": 1.0, "charge": float("inf")}, "finite and nonzero"),
])
def test_particles_that_cannot_be_made_are_refused(kwargs, message):
    with pytest.raises(ParticleError, match=message):
        particle(**kwargs)


@pytest.mark.parametrize("value", [0.0, -1.0, float("nan"), float("inf"), "fast"])
def test_energies_must_be_finite_and_positive(value):
    with pytest.raises(ParticleError):
        PARTICLES["proton"].momentum(value)
    with pytest.raises(ParticleError):
        PARTICLES["proton"].kinetic_energy(value)


def test_kinetic_energy_needs_a_mass():
    with pytest.raises(ParticleError, match="no mass"):
        particle(charge=1).momentum(1.0)
    assert np.isfinite(PARTICLES["electron"].momentum(1.0))
