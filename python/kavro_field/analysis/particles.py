"""The particles a beam is made of: rest mass and charge, and the relations between momentum,
kinetic energy, beta and gamma that the optics need.

Masses are CODATA 2018 rest energies in MeV (MeV/c^2), charges in units of the elementary charge.
"""

import math
from dataclasses import dataclass
from typing import Optional

from ..errors import BadUsageError

ELECTRON_MASS = 0.51099895000
PROTON_MASS = 938.27208816
DEUTERON_MASS = 1875.61294257
ALPHA_MASS = 3727.3794066
# The negative hydrogen ion: a proton and two electrons, less the binding of both electrons
# (13.598434 eV ionisation energy of hydrogen, 0.754195 eV electron affinity).
H_MINUS_MASS = PROTON_MASS + 2 * ELECTRON_MASS - (13.598434 + 0.754195) * 1e-6


class ParticleError(BadUsageError):
    """A particle or an energy that cannot be used: unknown name, or a value that is not finite
    and positive (the message names the value)."""


@dataclass(frozen=True)
class Particle:
    """A particle species: its name, rest mass in MeV/c^2 and charge in units of e.

    A particle given by its charge alone (a magnetic field's optics need only the momentum)
    has the mass None.

    Examples
    --------
    >>> p = PARTICLES["proton"]
    >>> round(p.kinetic_energy(p.momentum(100.0)), 9)
    100.0
    >>> round(PARTICLES["electron"].beta_of_kinetic(0.01), 6)
    0.194986
    """

    name: str
    mass: Optional[float]
    charge: float

    def required_mass(self) -> float:
        """The mass, or ParticleError where the particle was given by its charge alone."""
        if self.mass is None:
            raise ParticleError(f"the {self.name} has no mass given: the kinetic energy needs one")
        return self.mass

    def momentum(self, kinetic_energy: float) -> float:
        """Momentum in MeV/c of the kinetic energy `kinetic_energy` in MeV."""
        m = self.required_mass()
        t = positive_finite(kinetic_energy, "the kinetic energy")
        return math.sqrt(t * (t + 2 * m))

    def kinetic_energy(self, momentum: float) -> float:
        """Kinetic energy in MeV of the momentum `momentum` in MeV/c (without cancellation)."""
        m = self.required_mass()
        p = positive_finite(momentum, "the momentum")
        return p * p / (math.sqrt(p * p + m * m) + m)

    def gamma_of_kinetic(self, kinetic_energy: float) -> float:
        """Lorentz factor at the kinetic energy in MeV."""
        return 1.0 + positive_finite(kinetic_energy, "the kinetic energy") / self.required_mass()

    def beta_of_kinetic(self, kinetic_energy: float) -> float:
        """v / c at the kinetic energy in MeV."""
        t = positive_finite(kinetic_energy, "the kinetic energy")
        return self.momentum(t) / (t + self.required_mass())


PARTICLES = {
    "electron": Particle("electron", ELECTRON_MASS, -1.0),
    "positron": Particle("positron", ELECTRON_MASS, 1.0),
    "proton": Particle("proton", PROTON_MASS, 1.0),
    "antiproton": Particle("antiproton", PROTON_MASS, -1.0),
    "H-": Particle("H-", H_MINUS_MASS, -1.0),
    "deuteron": Particle("deuteron", DEUTERON_MASS, 1.0),
    "alpha": Particle("alpha", ALPHA_MASS, 2.0),
}


def positive_finite(value, what: str) -> float:
    """`value` as a float when it is finite and positive, else ParticleError naming `what`.

    Examples
    --------
    >>> positive_finite(2, "the momentum")
    2.0
    >>> try:
    ...     positive_finite(float("nan"), "the momentum")
    ... except ParticleError as err:
    ...     print(err)
    the momentum must be finite and positive, not nan
    """
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise ParticleError(f"{what} must be a number, not {value!r}") from None
    if not (math.isfinite(number) and number > 0.0):
        raise ParticleError(f"{what} must be finite and positive, not {number!r}")
    return number


def particle(name: Optional[str] = None, mass: Optional[float] = None, charge: Optional[float] = None) -> Particle:
    """The particle of a name from the catalogue, or of a custom mass and charge.

    Parameters
    ----------
    name : str, optional
        One of electron, positron, proton, antiproton, H-, deuteron, alpha.
    mass : float, optional
        Rest mass in MeV/c^2 (finite, positive), instead of a name.
    charge : float, optional
        Charge in units of e (finite, nonzero; with `mass`, or alone for a magnetic field).

    Returns
    -------
    Particle

    Raises
    ------
    ParticleError
        An unknown name, a name together with a mass or charge, a mass without a charge, or a
        value that is not finite (a mass not positive, a charge zero).

    Examples
    --------
    >>> particle("alpha").charge
    2.0
    >>> particle(mass=139.57039, charge=1).name
    'particle of 139.57 MeV/c^2, charge 1 e'
    >>> particle(charge=1).mass is None
    True
    """
    if name is not None:
        if mass is not None or charge is not None:
            raise ParticleError(f"the particle {name} has its own mass and charge: give a name, or a mass and a charge")
        if name not in PARTICLES:
            raise ParticleError(f"unknown particle {name!r}: one of {', '.join(PARTICLES)}")
        return PARTICLES[name]
    if charge is None:
        raise ParticleError("a particle needs a name, or a mass and a charge")
    try:
        q = float(charge)
    except (TypeError, ValueError):
        raise ParticleError(f"the charge must be a number, not {charge!r}") from None
    if not math.isfinite(q) or q == 0.0:
        raise ParticleError(f"the charge must be finite and nonzero, not {q!r}")
    if mass is None:
        return Particle(f"particle of charge {q:g} e", None, q)
    m = positive_finite(mass, "the mass")
    return Particle(f"particle of {m:.5g} MeV/c^2, charge {q:g} e", m, q)
