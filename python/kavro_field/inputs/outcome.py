"""How the converter's run ends (a clean run, a failure report or a stop) and that told in one line."""

import os
from dataclasses import dataclass, field
from typing import List, Optional

from .listread import Origin
from .messages import OUTPUT_UNIT, TABLE_UNITS


@dataclass
class Outcome:
    """How the converter's run ends: "ok", "failure" (message number, unit) or "stop"."""

    outcome: str
    message: Optional[int] = None
    unit: Optional[int] = None
    output: Optional[str] = None
    stderr: List[str] = field(default_factory=list)  # lines, without their CR LF
    where: Optional[Origin] = None
    why: str = ""


def describe(outcome: Outcome, where: bool = True) -> str:
    """One line on how the converter's run ends; `where` puts the file and line in front.

    Examples
    --------
    >>> describe(Outcome("ok", output="eh_EMS.#01"))
    'a clean run: the converter writes eh_EMS.#01'
    """
    if outcome.outcome == "ok":
        return f"a clean run: the converter writes {outcome.output}"
    prefix = _location(outcome) if where else ""
    if outcome.outcome == "failure":
        return f"{prefix}{outcome.why}: the converter will stop with runerr {outcome.message} on unit {outcome.unit}"
    return f"{prefix}{outcome.why}: the converter stops with \"{outcome.stderr[0]}\""


def _location(outcome: Outcome) -> str:
    if outcome.where is not None and outcome.where.line:
        label = "table" if outcome.unit in TABLE_UNITS else os.path.basename(outcome.where.file)
        return f"{label} line {outcome.where.line}: "
    if outcome.unit in TABLE_UNITS:
        return "table: "
    if outcome.unit == OUTPUT_UNIT:
        return f"output {outcome.output}: "
    return ""
