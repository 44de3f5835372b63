"""The converter's names and texts: the control file's name, file names completed and opened as
the converter does, the output file's name, and reals written as its stop messages write them."""

import decimal
import math
import os
from typing import List, Tuple

CONTROL_NAME = "poisson_to_kavro.dat"


def shortest_text(v: float) -> str:
    """A real as the converter's stop messages write it: the shortest text that reads back as
    the same value, fixed or exponent form whichever is shorter (fixed on a tie), ".0" added to
    a finite value without a point or exponent.

    Examples
    --------
    >>> shortest_text(-0.0), shortest_text(2.059), shortest_text(1e-4), shortest_text(100.0)
    ('-0.0', '2.059', '1e-04', '100.0')
    """
    if math.isnan(v):
        return "-nan" if math.copysign(1.0, v) < 0 else "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    sign, digit_values, exponent = decimal.Decimal(repr(v)).normalize().as_tuple()
    exp = int(exponent)  # a finite value's exponent is a number
    digits = "".join(map(str, digit_values))
    n = len(digits)
    sci_exp = exp + n - 1
    sci = digits[0] + ("." + digits[1:] if n > 1 else "") + f"e{'-' if sci_exp < 0 else '+'}{abs(sci_exp):02d}"
    if exp >= 0:
        fixed = digits + "0" * exp
    elif n + exp > 0:
        fixed = digits[:n + exp] + "." + digits[n + exp:]
    else:
        fixed = "0." + "0" * (-(n + exp)) + digits
    text = fixed if len(fixed) <= len(sci) else sci
    if "." not in text and "e" not in text:
        text += ".0"
    return ("-" if sign else "") + text


def full_path(folder: str, name: str) -> str:
    """The name completed with the working directory and its `.` and `..` resolved by their
    text, as the converter's reports name a file."""
    joined = name if name.startswith("/") else os.path.realpath(folder) + "/" + name
    parts: List[str] = []
    for part in joined.split("/"):
        if part in ("", "."):
            continue
        if part == "..":
            if parts:
                parts.pop()
            continue
        parts.append(part)
    return "/" + "/".join(parts)


def open_name(fixed: str) -> str:
    """The name a fixed-length text opens: without its leading and trailing blanks."""
    return fixed.lstrip(" ").rstrip(" \0")[:256]


def control_location(control) -> Tuple[str, str]:
    """(folder, control file) of a control file path or of the folder that holds one."""
    control = os.fspath(control)
    if os.path.isdir(control):
        return control, os.path.join(control, CONTROL_NAME)
    return os.path.dirname(control) or ".", control


def output_name(kfile_num: int) -> str:
    """The output file's name: eh_EMS.# and the number in two digits, ** when it does not fit."""
    return f"eh_EMS.#{kfile_num:02d}" if 0 <= kfile_num <= 99 else "eh_EMS.#**"
