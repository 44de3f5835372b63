"""The units a field file's numbers are in, which the file itself never states.

The converter copies lengths and field values from the table unchanged (times the control file's
scale), so only the user knows them; the commands that label axes or convert to SI ask for them.
"""

from dataclasses import dataclass, field
from typing import Any, Dict, Optional, Tuple

from .errors import BadUsageError

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
FIELD_UNITS = {"T": (1.0, "B"), "mT": (1e-3, "B"), "G": (1e-4, "B"), "kG": (0.1, "B"),
               "V/m": (1.0, "E"), "V/cm": (1e2, "E"), "kV/cm": (1e5, "E"), "MV/m": (1e6, "E")}
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
    ['T', 'mT', 'G', 'kG']
    """
    return [unit for unit, (_, unit_kind) in FIELD_UNITS.items() if unit_kind == kind]


def unit_problem(field_unit: Optional[str], kind: Optional[str]) -> Optional[str]:
    """Why a field unit does not fit a field kind, or None when it does (or either is unknown).

    Examples
    --------
    >>> unit_problem("T", "E")
    'the field unit T is one of B (T, mT, G, kG); this field is E (V/m, V/cm, kV/cm, MV/m)'
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


@dataclass(frozen=True)
class ResolvedUnits:
    """The units and field kind a command works in, and where each came from.

    Attributes
    ----------
    length_unit, field_unit, kind : str or None
        None where nothing states it.
    sources : dict
        "length_unit", "field_unit", "kind" -> where the value came from ("--length-unit",
        "mm.txt line 7 heads the columns R(mm) Z(mm)", "the field unit G", "the file",
        "the control file"); only for the values that are known.
    notes : tuple of str
        What the header left open (two different units stated for one quantity).
    inputs : Inputs or None
        The conversion's inputs, where a control file was read.

    Examples
    --------
    >>> r = ResolvedUnits("cm", "G", "B", {"length_unit": "--length-unit", "field_unit": "--field-unit",
    ...                                    "kind": "the field unit G"})
    >>> r.known, r.describe()
    (True, 'length cm (--length-unit), field G (--field-unit), kind B (the field unit G)')
    """

    length_unit: Optional[str]
    field_unit: Optional[str]
    kind: Optional[str]
    sources: Dict[str, str] = field(default_factory=dict)
    notes: Tuple[str, ...] = ()
    inputs: Any = None

    @property
    def known(self) -> bool:
        """True when both units are known (the numbers can be given in SI)."""
        return self.length_unit is not None and self.field_unit is not None

    def describe(self) -> str:
        """One line: each unit and the kind, with where it came from ("not given" where unknown)."""
        parts = []
        for what, key in (("length", "length_unit"), ("field", "field_unit"), ("kind", "kind")):
            value = getattr(self, key)
            parts.append(f"{what} {value} ({self.sources[key]})" if value is not None else f"{what} not given")
        return ", ".join(parts)


def resolve_units(length_unit: Optional[str] = None, field_unit: Optional[str] = None, kind: Optional[str] = None,
                  control: Any = None, file_kind: Optional[str] = None) -> ResolvedUnits:
    """The length unit, field unit and field kind from the options, the table's header and the file.

    The rules: an option given is used, unless the table's header (read through `control`)
    states another unit, which refuses it; a unit the options leave out is the header's. The
    field kind follows from the field unit (V/m, V/cm, kV/cm, MV/m mean E; T, mT, G, kG mean B);
    the file (layout 2), the control file's iflag_EH and `kind` (the --kind option) state it
    too, and all that state it must agree.

    Parameters
    ----------
    length_unit : {"m", "cm", "mm"}, optional
        The --length-unit option.
    field_unit : str, optional
        The --field-unit option, a key of `FIELD_UNITS`.
    kind : {"E", "B"}, optional
        The --kind option.
    control : str, os.PathLike or Trace, optional
        The conversion's control file (or its folder, or its trace already made): its table's
        header and its iflag_EH.
    file_kind : {"E", "B"}, optional
        What the field file states (`FieldFile.kind`).

    Returns
    -------
    ResolvedUnits

    Raises
    ------
    BadUsageError
        An option that contradicts the header ("--length-unit cm, but mm.txt line 7 heads the
        columns R(mm) Z(mm)"), or sources that state different kinds.
    UnreadableInputError, DamagedFileError
        A control file or table the conversion cannot read.

    Examples
    --------
    >>> r = resolve_units("cm", "V/cm", control=example)
    >>> r.kind, r.sources["kind"]
    ('E', 'the field unit V/cm, the control file')
    >>> resolve_units(field_unit="kG").describe()
    'length not given, field kG (--field-unit), kind B (the field unit kG)'
    >>> try:
    ...     resolve_units(field_unit="T", file_kind="E")
    ... except BadUsageError as err:
    ...     print(err)
    the field unit T means B, but the file says E
    """
    chosen: Dict[str, Optional[str]] = {"length_unit": length_unit, "field_unit": field_unit}
    sources: Dict[str, str] = {}
    for key, option in (("length_unit", "--length-unit"), ("field_unit", "--field-unit")):
        if chosen[key] is not None:
            sources[key] = option
    notes: Tuple[str, ...] = ()
    inputs = None
    control_kind = None
    if control is not None:
        from .inputs.table_units import table_units
        from .inputs.trace import sampled_trace
        t = sampled_trace(control)
        inputs = t.inputs
        control_kind = inputs.kind if inputs is not None else None
        header = table_units(t)
        notes = header.conflicts
        for key, option, stated in (("length_unit", "--length-unit", header.length),
                                    ("field_unit", "--field-unit", header.field)):
            refusal = header.refusal(option, chosen[key])
            if refusal:
                raise BadUsageError(refusal)
            if stated is not None and chosen[key] is None:
                chosen[key], sources[key] = stated.unit, stated.where()
    if chosen["field_unit"] is not None and chosen["field_unit"] not in FIELD_UNITS:
        raise BadUsageError(f"unknown field unit {chosen['field_unit']!r}: one of {', '.join(FIELD_UNITS)}")
    if chosen["length_unit"] is not None and chosen["length_unit"] not in LENGTH_UNITS:
        raise BadUsageError(f"unknown length unit {chosen['length_unit']!r}: one of {', '.join(LENGTH_UNITS)}")
    stated_kinds = {}
    if chosen["field_unit"] is not None:
        stated_kinds[f"the field unit {chosen['field_unit']}"] = FIELD_UNITS[chosen["field_unit"]][1]
    for source, value in (("--kind", kind), ("the file", file_kind), ("the control file", control_kind)):
        if value is not None:
            stated_kinds[source] = value
    if len(set(stated_kinds.values())) > 1:
        first, *rest = stated_kinds.items()
        verb = "means" if first[0].startswith("the field unit") else "says"
        raise BadUsageError(f"{first[0]} {verb} {first[1]}, but "
                            + " and ".join(f"{source} says {value}" for source, value in rest if value != first[1]))
    resolved_kind = next(iter(stated_kinds.values()), None)
    if resolved_kind is not None:
        sources["kind"] = ", ".join(stated_kinds)
    return ResolvedUnits(chosen["length_unit"], chosen["field_unit"], resolved_kind, sources, notes, inputs)


def kind_missing(layout: Optional[int]) -> str:
    """The options that give a field kind where nothing states it, as a clause.

    Examples
    --------
    >>> kind_missing(0)
    '--field-unit, --kind E|B or --control (layout 0 does not say whether it holds E or B)'
    """
    return f"--field-unit, --kind E|B or --control (layout {layout} does not say whether it holds E or B)"
