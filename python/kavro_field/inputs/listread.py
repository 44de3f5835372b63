"""Text input by the converter's rules: files of lines, whole-line reads of a fixed width and
list-directed reads of integers and reals, with the failure each malformed input ends the
converter's run with (its message number and unit).

Every value keeps where it came from (line and text as written), and every reading that takes
an input as something other than it looks is noted, for `lint`: a null value, a value that ends
at a comma inside what looks like one number, a second number after the last item, an integer
item written in real form.
"""

from dataclasses import dataclass, field
from typing import List, Optional

from ..findings import INPUTS, Finding

import numpy as np

from .messages import (CONVERSION_ERROR, END_OF_FILE, INTERNAL_FILE, INTERNAL_UNIT, MESSAGE_TEXTS, SYNTAX_ERROR,
                       TYPE_MISMATCH)

# What separates values on a line, and the letters that begin a number's exponent.
BLANKS = " \t"
_ENDS_VALUE = " \t,/)*"
EXPONENT_LETTERS = "eEdDqQ"
_INT32_MIN, _INT32_MAX = -2147483648, 2147483647


@dataclass
class Origin:
    """Where a value was read: file, line (from 1) and the text of the value as written."""

    file: str
    line: int
    text: Optional[str]


def oddity(code: str, kind: str, file: str, line: int, text: str, detail: str) -> Finding:
    """The finding of an input read as something other than it looks: `kind` names it where like
    oddities are counted, `detail` says what came of this one."""
    return Finding(code, f"{kind}: {detail}", file, line, text, scope=INPUTS, data={"kind": kind})


@dataclass
class ReadFailure(Exception):
    """The converter's run ends here with failure `number` on `unit` (its report names `file`).

    `line` and `text` say where the read failed (None where no line is concerned), `why` in words.
    """

    number: int
    unit: int
    file: str
    line: Optional[int] = None
    text: Optional[str] = None
    why: str = ""
    system_text: Optional[str] = None  # the system's description, printed before the report

    def report(self):
        """The lines the converter writes on standard error, without their line ends."""
        lines = [f"runerr: {self.system_text}"] if self.system_text else []
        return lines + [f"runerr: severe ({self.number}): {MESSAGE_TEXTS[self.number]},"
                        f" unit {self.unit}, file {self.file}"]


class Lines:
    """The lines of a text file as the converter sees them.

    A line ends at LF; a CR right before the LF is not part of it; a last line without LF
    counts; a line holding only Ctrl-Z ends the file. Lines are decoded one byte per character.
    """

    def __init__(self, data: bytes, unit: int, file: str, display: Optional[str] = None):
        self.data = data
        self.unit = unit
        self.file = file  # as the converter's reports name it
        self.display = display or file  # as the companion's messages name it
        codes = np.frombuffer(data, dtype=np.uint8)
        lf = np.flatnonzero(codes == 10)
        starts: np.ndarray = np.concatenate((np.zeros(1, dtype=lf.dtype), lf + 1))
        ends: np.ndarray = np.concatenate((lf, np.full(1, len(data), dtype=lf.dtype)))
        if len(data) == 0 or data.endswith(b"\n"):
            starts, ends = starts[:-1], ends[:-1]
        cr = (ends > starts) & (ends < len(data))
        cr[cr] = codes[ends[cr] - 1] == 13
        ends = ends - cr.astype(ends.dtype)
        one: np.ndarray = np.flatnonzero(ends - starts == 1)
        ctrl_z = one[codes[starts[one]] == 26]
        count = int(ctrl_z[0]) if ctrl_z.size else len(starts)
        self.starts, self.ends = starts[:count], ends[:count]
        self.count = count
        self.next = 0  # index of the next line to read

    def text(self, index):
        return self.data[self.starts[index]:self.ends[index]].decode("latin-1")

    def take(self):
        """(line number, text) of the next line; ReadFailure 24 at the end of the file."""
        if self.next >= self.count:
            raise ReadFailure(END_OF_FILE, self.unit, self.file, None, None,
                              f"the file ends after line {self.count}")
        self.next += 1
        return self.next, self.text(self.next - 1)

    def fixed(self, width):
        """Whole-line read: the first `width` characters, blank-filled; and the line number."""
        number, text = self.take()
        return number, text[:width].ljust(width)


class TextRecord(Lines):
    """A part of a line read as a file of one line (unit -5), for the header fields."""

    def __init__(self, text: str, line: int, display: str):
        super().__init__(text.encode("latin-1"), INTERNAL_UNIT, INTERNAL_FILE, display)
        self.count = 1
        self.starts, self.ends = np.array([0]), np.array([len(text)])
        self.line = line

    def take(self):
        if self.next >= 1:
            raise ReadFailure(END_OF_FILE, INTERNAL_UNIT, INTERNAL_FILE, self.line, None,
                              "the field ends before both of its values")
        self.next = 1
        return self.line, self.text(0)


def _scan_constant(t):
    """(negative, real_form, mantissa, exponent text or '') of a numeric constant; None if malformed."""
    i = 0
    negative = False
    if t[:1] in ("+", "-"):
        negative = t[0] == "-"
        i = 1
    m0 = i
    digits = 0
    point = False
    while i < len(t):
        if t[i].isdigit() and t[i].isascii():
            digits += 1
        elif t[i] == "." and not point:
            point = True
        else:
            break
        i += 1
    if digits == 0:
        return None
    mantissa = t[m0:i]
    if i == len(t):
        return negative, point, mantissa, ""
    if t[i] not in EXPONENT_LETTERS:
        return None
    i += 1
    e0 = i
    if t[i:i + 1] in ("+", "-"):
        i += 1
    d0 = i
    while i < len(t) and t[i].isdigit() and t[i].isascii():
        i += 1
    if i == d0 or i != len(t):
        return None
    return negative, True, mantissa, t[e0:i]


def _foreign(t):
    """Kinds of constant the converter never reads: quoted text, logical and complex constants."""
    if t[0] in "'\"(":
        return True
    return len(t) > 1 and t[0] == "." and t[1].isalpha() and t[1] not in EXPONENT_LETTERS


def constant_value(token, integer, fail):
    """The value of `token` for an integer or real item; calls fail(number, why) when it fails."""
    if _foreign(token):
        fail(TYPE_MISMATCH, f"'{token}' is not a number (a constant of another kind)")
    scanned = _scan_constant(token)
    if scanned is None:
        fail(SYNTAX_ERROR, f"'{token}' is not a number")
    negative, real_form, mantissa, exponent = scanned
    if integer and not real_form:
        value = int(mantissa)
        value = -value if negative else value
        if not _INT32_MIN <= value <= _INT32_MAX:
            fail(CONVERSION_ERROR, f"'{token}' is beyond the 32-bit integer range")
        return value
    value = float(("-" if negative else "") + mantissa + ("e" + exponent if exponent else ""))
    if value in (float("inf"), float("-inf")):
        fail(CONVERSION_ERROR, f"'{token}' is beyond the range of a 64-bit real")
    if integer:
        if not -2147483649.0 < value < 2147483648.0:
            fail(CONVERSION_ERROR, f"'{token}' is beyond the 32-bit integer range")
        return int(value)  # toward zero
    return value


def _repeat(token, fail):
    count = 0
    for c in token:  # digit by digit: an overflow is met before a later wrong character
        if not ("0" <= c <= "9"):
            fail(SYNTAX_ERROR, f"'{token}*' is no repeat count", token)
        count = count * 10 + ord(c) - 48
        if count > _INT32_MAX:
            fail(CONVERSION_ERROR, f"the repeat count '{token}' is beyond the 32-bit integer range", token)
    if count == 0:
        fail(SYNTAX_ERROR, "a repeat count of 0", token)
    return count


@dataclass
class Statement:
    """What one list-directed read did: the origin of each item (None: not filled, the item kept
    its value), the oddities met, and the line it ended on."""

    origins: List[Optional[Origin]]
    oddities: List[Finding] = field(default_factory=list)
    last_line: int = 0


def read_list(src: Lines, values: list, integer: List[bool]) -> Statement:
    """One list-directed read into `values` (changed in place; an item not filled keeps its value).

    Parameters
    ----------
    src : Lines
        Begins at its next line; the rest of the line the statement ends on is skipped.
    values : list
        Current values of the items.
    integer : list of bool
        Whether each item is a 32-bit integer (else a 64-bit real).

    Returns
    -------
    Statement

    Raises
    ------
    ReadFailure
        With the converter's message number, unit, line and text.

    Examples
    --------
    >>> v = [0, 0, 0]
    >>> _ = read_list(Lines(b"2* 1\\n", 1, "f"), v, [True] * 3)
    >>> v
    [0, 0, 1]
    """
    count = len(values)
    st = Statement([None] * count)
    number, line = src.take()
    pos = 0
    filled = 0
    after_comma = True  # a comma at the very start of the statement gives a null value

    def fail(num, why, text=None):
        raise ReadFailure(num, src.unit, src.file, number, line.strip(BLANKS) if text is None else text, why)

    def odd(code, kind, detail, text):
        st.oddities.append(oddity(code, kind, src.display, number, text, detail))

    def value_at(start):
        """The value's text from `start` to the character that ends it, and where it ends."""
        end = start
        while end < len(line) and line[end] not in _ENDS_VALUE:
            end += 1
        if end == start:  # a ')' or '*' where a value should be
            fail(SYNTAX_ERROR, f"'{line[end]}' where a value should be", line[end])
        return line[start:end], end

    while filled < count:
        while pos < len(line) and line[pos] in BLANKS:
            pos += 1
        if pos == len(line):
            number, line = src.take()
            pos = 0
            continue
        ch = line[pos]
        if ch == ",":
            if after_comma:
                odd("oddity.null-value", "a null value", f"item {filled + 1} keeps its value {values[filled]!r}", line.strip(BLANKS))
                filled += 1
            after_comma = True
            pos += 1
            continue
        if ch == "/":
            break
        token, pos = value_at(pos)
        repeat = 1
        if pos < len(line) and line[pos] == "*":
            repeat = _repeat(token, fail)
            pos += 1
            if pos == len(line) or line[pos] in " \t,/":
                nulls = min(repeat, count - filled)
                kept = ", ".join(repr(v) for v in values[filled:filled + nulls])
                odd("oddity.repeat-null", f"'{token}*' without a value after it is {nulls} null value{'s' if nulls > 1 else ''}",
                    f"item"
                    f" {filled + 1}{f' .. {filled + nulls}' if nulls > 1 else ''} keep{'' if nulls > 1 else 's'}"
                    f" {kept}", line.strip(BLANKS))
                filled += nulls
                after_comma = False
                continue
            token, pos = value_at(pos)
        for _ in range(min(repeat, count - filled)):
            values[filled] = constant_value(token, integer[filled], lambda num, why: fail(num, why, token))
            st.origins[filled] = Origin(src.display, number, token)
            if integer[filled] and _scan_constant(token)[1]:
                odd("oddity.integer-as-real", "the integer item is written as a real", f"'{token}' reads {values[filled]}", token)
            filled += 1
        after_comma = False
        if filled == count:
            _rest_of_line(line, pos, token, odd)
    st.last_line = number
    return st


def _rest_of_line(line, pos, token, odd):
    """Oddities in what the statement skips: a comma right inside a number, a second number."""
    rest = line[pos:]
    if rest[:1] == "," and rest[1:2].isdigit():
        more = rest[1:].split()[0].split(",")[0]
        odd("oddity.comma-in-number", "a comma inside a number", f"'{token},{more}' reads {token}; the decimal mark is a point", line.strip(BLANKS))
        return
    words = rest.replace(",", " ").split()
    if words and _scan_constant(words[0]) is not None:
        odd("oddity.second-number", "a second number after the value", f"'{words[0]}' is not read", line.strip(BLANKS))


def skip(src: Lines):
    """A read without items: consumes one line, whatever it holds."""
    src.take()
