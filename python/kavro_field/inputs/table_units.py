"""The units a solver table's header states, with the line each was found on.

The converter reads only numbers from the header; the words around them are the solver's. The
length unit is written after the limits ("(Rmin,Zmin): 0.0, 0.0 cm") or in the coordinate
columns' labels ("R(mm) Z(mm)"), the field unit in the field columns' labels ("Br(T) Bz(T)").
The labels are on the three lines skipped between the header and the first row; the limits on
the two header lines that hold them. The control file's scale multiplies the values and leaves
the unit as it is.
"""

import os
import re
from dataclasses import dataclass
from typing import List, Optional, Tuple

from ..units import FIELD_UNITS

# The field units a table may state are those the options take; the spellings a solver writes
# map to these names.
_SPELLINGS = {"Tesla": "T", "tesla": "T", "Gauss": "G", "gauss": "G"}
_FIELD = "|".join(sorted((re.escape(u) for u in list(FIELD_UNITS) + list(_SPELLINGS)), key=len, reverse=True))
_LENGTH = r"mm|cm|m"
# A label: a name, then the unit in brackets, e.g. "Z(cm)", "Bz [Gauss]".
_LENGTH_LABEL = re.compile(r"(?<![A-Za-z])([RZrz])\s*[(\[]\s*(" + _LENGTH + r")\s*[)\]]")
_FIELD_LABEL = re.compile(r"(?<![A-Za-z])([A-Za-z]\w*)\s*[(\[]\s*(" + _FIELD + r")\s*[)\]]")
# A length unit standing alone on a limits line ("... 20.00000 cm").
_LENGTH_WORD = re.compile(r"(?<![A-Za-z/.\d])(" + _LENGTH + r")(?![A-Za-z/\d])")


@dataclass(frozen=True)
class UnitSource:
    """One unit and where the table states it.

    Attributes
    ----------
    unit : str
        The unit's name here ("mm", "G", "V/cm"; "Gauss" becomes "G", "Tesla" "T").
    line : int
        Line number in the table (from 1).
    text : str
        That line, without surrounding blanks.
    labels : tuple of str
        The column labels carrying the unit ("R(mm)", "Z(mm)"); empty for a limits line.
    path : str or None
    """

    unit: str
    line: int
    text: str
    labels: Tuple[str, ...] = ()
    path: Optional[str] = None

    def where(self) -> str:
        """Where the unit is stated, as a clause.

        Examples
        --------
        >>> UnitSource("mm", 7, "R(mm) Z(mm) Br(T) Bz(T)", ("R(mm)", "Z(mm)"), "a/mm.txt").where()
        'mm.txt line 7 heads the columns R(mm) Z(mm)'
        >>> UnitSource("cm", 3, "(Rmin,Zmin): 0 , 0 cm").where()
        'the table line 3 gives the limits in cm'
        """
        name = os.path.basename(self.path) if self.path else "the table"
        if self.labels:
            return f"{name} line {self.line} heads the columns {' '.join(self.labels)}"
        return f"{name} line {self.line} gives the limits in {self.unit}"


@dataclass(frozen=True)
class TableUnits:
    """The length and field units a table's header states (None where it states none).

    Attributes
    ----------
    length, field : UnitSource or None
    conflicts : tuple of str
        Lines that state two different units for the same quantity; that quantity is then None.

    Examples
    --------
    >>> u = table_units(SAMPLE, "mm.txt")
    >>> u.describe()
    'length mm (mm.txt line 7 heads the columns R(mm) Z(mm)), field T (mm.txt line 7 heads the columns Br(T) Bz(T))'
    >>> u.refusal("--length-unit", "cm")
    '--length-unit cm, but mm.txt line 7 heads the columns R(mm) Z(mm)'
    >>> u.refusal("--field-unit", "T") is None
    True
    """

    length: Optional[UnitSource]
    field: Optional[UnitSource]
    conflicts: Tuple[str, ...] = ()

    def describe(self) -> str:
        """One line: each unit and where it comes from."""
        parts = [f"{what} {s.unit} ({s.where()})" if s else f"{what} not stated"
                 for what, s in (("length", self.length), ("field", self.field))]
        return ", ".join(parts) + "".join(f"; {c}" for c in self.conflicts)

    def refusal(self, option: str, value: Optional[str]) -> Optional[str]:
        """Why an option's unit contradicts the header, or None when it agrees or either is absent."""
        source = self.length if option == "--length-unit" else self.field
        if value is None or source is None or _SPELLINGS.get(value, value) == source.unit:
            return None
        return f"{option} {value}, but {source.where()}"


SAMPLE = ("Solenoid table\n\n(Rmin,Zmin) :   0.0   -120.0\n(Rmax,Zmax) :   40.0   120.0\n"
          "Intervals (r,z) :     10     60\n\n   R(mm) Z(mm) Br(T) Bz(T)\n\n 0 -120 0 0.1\n")


def _header_lines(lines: List[str]):
    """(line number, text) of the two limits lines and of the three label lines."""
    for n, line in enumerate(lines):
        if "Zmin" in line[:100]:
            limits = [(n + 1 + k, lines[n + k]) for k in range(2) if n + k < len(lines)]
            labels = [(n + 4 + k, lines[n + 3 + k]) for k in range(3) if n + 3 + k < len(lines)]
            return limits, labels
    return [], []


def _pick(found, what):
    """One UnitSource from several findings, or a conflict line."""
    units = list(dict.fromkeys(s.unit for s in found))
    if not found:
        return None, None
    if len(units) > 1:
        return None, f"the header states the {what} unit as {' and '.join(units)}: " + "; ".join(s.where() for s in found)
    return found[0], None


def table_units(table, path: Optional[str] = None) -> TableUnits:
    """The units stated by a table's header.

    Parameters
    ----------
    table : str or Trace
        The table's text, or the trace the companion builds while reading a conversion
        (`kavro_field.inputs.trace`), whose header lines it uses.
    path : str, optional
        The table's path, for the messages (a trace brings its own).

    Returns
    -------
    TableUnits

    Examples
    --------
    >>> u = table_units(SAMPLE.replace("Br(T) Bz(T)", "Br(Gauss) Bz(Gauss)"))
    >>> u.field.unit, u.field.line, u.length.labels
    ('G', 7, ('R(mm)', 'Z(mm)'))
    >>> table_units("(Rmin,Zmin): 0 , 0 cm\\n(Rmax,Zmax): 2 , 20 cm\\nIntervals: 1 1\\n").length.unit
    'cm'
    """
    if isinstance(table, str):
        limits, labels = _header_lines(table.splitlines())
    else:
        h = table.header
        path = path or table.table_path
        limits = [(h[k + "_line"], h[k + "_text"]) for k in ("A", "B") if k + "_line" in h]
        first = table.first_row_line
        labels = list(zip(range(first - 3, first), h.get("separator_text", []))) if first else []
    lengths, fields = [], []
    for number, text in labels:
        found = _LENGTH_LABEL.findall(text)
        for unit in dict.fromkeys(u for _, u in found):
            lengths.append(UnitSource(unit, number, text.strip(),
                                      tuple(m.group(0).replace(" ", "") for m in _LENGTH_LABEL.finditer(text)
                                            if m.group(2) == unit), path))
        matches = [m for m in _FIELD_LABEL.finditer(text) if m.group(1).upper() not in ("R", "Z")]
        for unit in dict.fromkeys(_SPELLINGS.get(m.group(2), m.group(2)) for m in matches):
            fields.append(UnitSource(unit, number, text.strip(),
                                     tuple(m.group(0).replace(" ", "") for m in matches
                                           if _SPELLINGS.get(m.group(2), m.group(2)) == unit), path))
    for number, text in limits:
        for unit in dict.fromkeys(_LENGTH_WORD.findall(text[:100])):
            lengths.append(UnitSource(unit, number, text.strip(), (), path))
    length, length_conflict = _pick(lengths, "length")
    field, field_conflict = _pick(fields, "field")
    return TableUnits(length, field, tuple(c for c in (length_conflict, field_conflict) if c))
