"""Findings as data: what `lint` warns of, what reading an input notices and what `check` finds.

Each finding has a code that names its cause (``"zero"``, ``"coverage.radius"``,
``"oddity.null-value"``), so that tools group, count and de-duplicate findings by their codes and
never by their wording; the text of a finding is made in one place, `render`, for the command line.
A code's family (the part before the first dot) is the tag a finding of a file is printed under.
"""

import os
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Tuple

# Findings about a field file itself, and findings about a conversion's inputs (the control file
# and its table), which `lint` prints as warnings and `check --control` under "inputs".
FILE = "file"
INPUTS = "inputs"


@dataclass(frozen=True)
class Finding:
    """One finding.

    Attributes
    ----------
    code : str
        What kind of finding it is, stable across wordings: the family, a dot, the cause.
    message : str
        What is wrong, in words.
    file : str or None
        The file concerned, when a line of it is.
    line : int or None
        Line of `file` (from 1).
    text : str or None
        The input as written on that line.
    node : tuple of int or None
        (i, j, k) of the field file's node concerned.
    value : float or None
        The value the finding is about (the largest departure, the share of a peak).
    scope : str
        `FILE` or `INPUTS`.
    data : dict
        What a tool needs beyond that (the axis, counts, the group an oddity belongs to).

    Examples
    --------
    >>> f = Finding("oddity.null-value", "a null value: item 1 keeps its value 0.0", "/t/table.txt", 12,
    ...             ",1.0 2.0", scope=INPUTS)
    >>> render(f, inputs_tag="warning")
    "warning: table.txt line 12: ',1.0 2.0' a null value: item 1 keeps its value 0.0"
    >>> f.family
    'oddity'
    """

    code: str
    message: str
    file: Optional[str] = None
    line: Optional[int] = None
    text: Optional[str] = None
    node: Optional[Tuple[int, int, int]] = None
    value: Optional[float] = None
    scope: str = FILE
    data: Dict[str, Any] = field(default_factory=dict, compare=False)

    @property
    def family(self) -> str:
        """The code up to its first dot: the kind of check or rule that made the finding."""
        return self.code.split(".", 1)[0]

    def as_dict(self) -> Dict[str, Any]:
        """The finding as plain data (the entries of `--json`), the input's place first.

        Examples
        --------
        >>> sorted(Finding("zero", "the field is 0 at every node").as_dict())
        ['code', 'data', 'file', 'line', 'message', 'node', 'scope', 'text', 'value']
        """
        return {"file": self.file, "line": self.line, "text": self.text, "message": self.message,
                "code": self.code, "node": list(self.node) if self.node is not None else None,
                "value": self.value, "scope": self.scope, "data": dict(self.data)}


def quoted(text: str) -> str:
    """`text` in single quotes with every character that is not printable escaped, so that a
    quoted input never puts control characters or binary bytes on the terminal.

    Examples
    --------
    >>> print(quoted("table.txt\\t"), quoted("a\\x00b\\x1b[31m"), quoted("Zmin é"))
    'table.txt\\t' 'a\\x00b\\x1b[31m' 'Zmin é'
    """
    out = []
    for c in text:
        if c == "'" or c == "\\":
            out.append("\\" + c)
        elif c.isprintable():
            out.append(c)
        else:
            out.append(c.encode("unicode_escape").decode("ascii"))
    return "'" + "".join(out) + "'"


def render(finding: Finding, inputs_tag: str = "inputs") -> str:
    """The finding as the line the command line prints.

    A finding of a file is tagged by its family (and, for the grid, its axis); a finding of the
    inputs by `inputs_tag` and the place it was read: the file's name, the line and the text as
    written.

    Examples
    --------
    >>> render(Finding("grid.backwards", "the grid runs backwards", data={"axis": "z"}))
    'grid z: the grid runs backwards'
    >>> render(Finding("coverage.ends", "nodes lie beyond the map's ends", "/c/p.dat", scope=INPUTS))
    "inputs: p.dat: nodes lie beyond the map's ends"
    """
    if finding.scope == FILE:
        axis = finding.data.get("axis")
        return f"{finding.family}{' ' + axis if axis else ''}: {finding.message}"
    where = os.path.basename(finding.file) if finding.file else ""
    where += f" line {finding.line}" if finding.line else ""
    if not where:
        return f"{inputs_tag}: {finding.message}"
    text = f" {quoted(finding.text)}" if finding.text else ""
    return f"{inputs_tag}: {where}:{text} {finding.message}"


def without_codes(findings: Iterable[Finding], families: Iterable[str]) -> List[Finding]:
    """The findings whose family is none of `families`: those another finding stands for.

    Examples
    --------
    >>> [f.code for f in without_codes([Finding("zero", "a"), Finding("fringe", "b")], ["zero"])]
    ['fringe']
    """
    left_out = set(families)
    return [f for f in findings if f.family not in left_out]


def group_by_code(findings: Iterable[Finding]) -> Dict[str, List[Finding]]:
    """The findings by code, each group in the order the findings came, groups in the order of
    their first finding.

    Examples
    --------
    >>> groups = group_by_code([Finding("a.x", "1"), Finding("b", "2"), Finding("a.x", "3")])
    >>> {code: [f.message for f in group] for code, group in groups.items()}
    {'a.x': ['1', '3'], 'b': ['2']}
    """
    groups: Dict[str, List[Finding]] = {}
    for finding in findings:
        groups.setdefault(finding.code, []).append(finding)
    return groups
