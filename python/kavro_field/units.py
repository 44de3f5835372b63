"""The units a field file's numbers are in, which the file itself never states.

The converter copies lengths and field values from the table unchanged (times the control file's
scale), so only the user knows them; the commands that label axes or convert to SI ask for them.
"""

from typing import Any, Optional

# The field kind of each value of the control file's iflag_EH (and of a layout-2 file's flag),
# and the control value that scales it.
FIELD_KINDS = {0: "E", 1: "B"}
SCALE_NAMES = {0: "scale_E", 1: "scale_B"}


def field_kind(iflag_EH: Any) -> Optional[str]:
    """The field kind a field-type flag names: "E" for 0, "B" for 1, None for any other value.

    Examples
    --------
    >>> field_kind(0), field_kind(1), field_kind(2)
    ('E', 'B', None)
    """
    return FIELD_KINDS.get(iflag_EH)


def scale_name(iflag_EH: Any) -> Optional[str]:
    """The control value that scales the table of a field-type flag, None for no field type.

    Examples
    --------
    >>> scale_name(0), scale_name(1), scale_name(-1)
    ('scale_E', 'scale_B', None)
    """
    return SCALE_NAMES.get(iflag_EH)


# Metres per length unit.
LENGTH_UNITS = {"m": 1.0, "cm": 1e-2, "mm": 1e-3}
# Field units in SI (T for B, V/m for E) and the kind they belong to.
FIELD_UNITS = {"T": (1.0, "B"), "G": (1e-4, "B"), "V/m": (1.0, "E"), "V/cm": (1e2, "E"),
               "kV/cm": (1e5, "E"), "MV/m": (1e6, "E")}
# Powers of length, mass, time, current, temperature, amount, luminous intensity.
UNIT_DIMENSIONS = {"E": (1.0, 1.0, -3.0, -1.0, 0.0, 0.0, 0.0), "B": (0.0, 1.0, -2.0, -1.0, 0.0, 0.0, 0.0)}


def field_units_of(kind: str) -> list:
    """The field units that belong to a field kind.

    Parameters
    ----------
    kind : str
        "E" or "B".

    Returns
    -------
    list of str

    Examples
    --------
    >>> field_units_of("B")
    ['T', 'G']
    """
    return [unit for unit, (_, unit_kind) in FIELD_UNITS.items() if unit_kind == kind]


def unit_problem(field_unit: Optional[str], kind: Optional[str]) -> Optional[str]:
    """Why a field unit does not fit a field kind, or None when it does (or either is unknown).

    Examples
    --------
    >>> unit_problem("T", "E")
    'the field unit T is one of B (T, G); this field is E (V/m, V/cm, kV/cm, MV/m)'
    >>> unit_problem("MV/m", "E") is None
    True
    """
    if field_unit is None or kind is None or FIELD_UNITS[field_unit][1] == kind:
        return None
    other = FIELD_UNITS[field_unit][1]
    return (f"the field unit {field_unit} is one of {other} ({', '.join(field_units_of(other))});"
            f" this field is {kind} ({', '.join(field_units_of(kind))})")


def axis_label(quantity: str, unit: Optional[str]) -> str:
    """An axis label with its unit, or "file units" where none is known.

    Examples
    --------
    >>> axis_label("Ez", "MV/m"), axis_label("z", None)
    ('Ez [MV/m]', 'z [file units]')
    """
    return f"{quantity} [{unit or 'file units'}]"
