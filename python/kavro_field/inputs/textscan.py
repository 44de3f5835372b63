"""Reading files as bytes, and vectorised scanning of text: lines, values, numbers.

A value of a text is what lies between separators (blank, tab, CR, LF); every value is then
judged whole by one grammar, so a value is either a number as a whole or refused as a whole:
a byte that some other parser would take for a separator (a vertical tab, a form feed) or for
part of a number (an underscore between digits) makes its value "not a number".
"""

import os
import stat
from dataclasses import dataclass
from typing import Tuple

import numpy as np

from ..errors import DamagedFileError, KavroFieldError, UnreadableInputError


@dataclass(frozen=True)
class Sizes:
    """The sizes in bytes an input may have.

    Attributes
    ----------
    ranges : tuple of (int, int)
        Allowed sizes, each range from its first to its last size inclusive.
    described : str
        The ranges in words, for the message that refuses another size.

    Examples
    --------
    >>> Sizes(((1, 100),), "1 to 100 bytes").allows(101)
    False
    """

    ranges: Tuple[Tuple[int, int], ...]
    described: str

    def allows(self, size: int) -> bool:
        """Whether a file of `size` bytes may be read."""
        return any(low <= size <= high for low, high in self.ranges)

    @property
    def largest(self) -> int:
        """The largest size allowed: no read holds more than this."""
        return max(high for _, high in self.ranges)


# What the converter holds of a line at the most (it refuses a line of 64 MiB or more), and so
# what is read of a text input (a control file or a table) at the most.
LARGEST_TEXT_INPUT = 64 << 20
SMALL_TEXT = Sizes(((0, LARGEST_TEXT_INPUT),), "at most 64 MiB for a text input")

_KINDS = ((stat.S_ISDIR, "is a directory, not a file"), (stat.S_ISFIFO, "is a FIFO (named pipe), not a file"),
          (stat.S_ISCHR, "is a character device, not a file"), (stat.S_ISBLK, "is a block device, not a file"),
          (stat.S_ISSOCK, "is a socket, not a file"))


def _check_file(path, info, sizes):
    for test, problem in _KINDS:
        if test(info.st_mode):
            raise UnreadableInputError(path, problem)
    if not stat.S_ISREG(info.st_mode):
        raise UnreadableInputError(path, "is not a regular file")
    _check_size(path, info.st_size, sizes)


def _check_size(path, size, sizes):
    if not sizes.allows(size):
        raise DamagedFileError(path, f"{size:,} bytes, where {sizes.described}")


def read_bytes(path, sizes: Sizes = SMALL_TEXT) -> bytes:
    """Whole content of a regular file of a size that `sizes` allows.

    The file is looked at before it is opened: a FIFO, device, socket or directory is refused
    without being read (and a FIFO without waiting for a writer), and so is a file of another size,
    so that nothing larger than `sizes.largest` is ever read into memory.

    Parameters
    ----------
    path : str or os.PathLike
    sizes : Sizes
        Sizes the input may have.

    Returns
    -------
    bytes

    Raises
    ------
    UnreadableInputError or DamagedFileError
        When the file is missing, not a regular file, of a size not allowed or not readable.

    Examples
    --------
    >>> import tempfile
    >>> try:
    ...     read_bytes(tempfile.mkdtemp())
    ... except KavroFieldError as err:
    ...     print(err.problem)
    is a directory, not a file
    """
    try:
        _check_file(path, os.stat(path), sizes)
        # Non-blocking, so that a name swapped for a FIFO since the look cannot make the open wait.
        handle = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_NOCTTY", 0))
        with os.fdopen(handle, "rb") as stream:
            _check_file(path, os.fstat(handle), sizes)
            data = stream.read(sizes.largest + 1)
    except KavroFieldError:
        raise
    except (OSError, ValueError) as err:
        raise UnreadableInputError(path, f"cannot be read: {getattr(err, 'strerror', None) or err}") from None
    _check_size(path, len(data), sizes)  # a file that grew or shrank while it was read
    return data


# Byte classes of the number grammar, and its states.
_DIGIT, _SIGN, _DOT, _EXPONENT, _OTHER, _END = range(6)
_CLASS = np.full(256, _OTHER, dtype=np.uint8)
_CLASS[ord("0"):ord("9") + 1] = _DIGIT
_CLASS[[ord("+"), ord("-")]] = _SIGN
_CLASS[ord(".")] = _DOT
_CLASS[[ord("e"), ord("E")]] = _EXPONENT
_CLASS[[9, 10, 13, 32]] = _END  # the separators: a value ends at the first
(_START, _SIGNED, _INT, _INT_DOT, _LEAD_DOT, _FRACTION, _EXP, _EXP_SIGN, _EXP_DIGITS, _REJECT,
 _WHOLE_INT, _WHOLE_REAL) = range(12)
# [+-] (digits [. digits*] | . digits) [(e|E) [+-] digits]; state x byte class -> state.
_STEP = np.full((12, 6), _REJECT, dtype=np.uint8)
for _state, _by_class in {
        _START: {_DIGIT: _INT, _SIGN: _SIGNED, _DOT: _LEAD_DOT},
        _SIGNED: {_DIGIT: _INT, _DOT: _LEAD_DOT},
        _INT: {_DIGIT: _INT, _DOT: _INT_DOT, _EXPONENT: _EXP, _END: _WHOLE_INT},
        _INT_DOT: {_DIGIT: _FRACTION, _EXPONENT: _EXP, _END: _WHOLE_REAL},
        _LEAD_DOT: {_DIGIT: _FRACTION},
        _FRACTION: {_DIGIT: _FRACTION, _EXPONENT: _EXP, _END: _WHOLE_REAL},
        _EXP: {_DIGIT: _EXP_DIGITS, _SIGN: _EXP_SIGN},
        _EXP_SIGN: {_DIGIT: _EXP_DIGITS},
        _EXP_DIGITS: {_DIGIT: _EXP_DIGITS, _END: _WHOLE_REAL},
        # Once a value has ended, the bytes after it (the next values) change nothing.
        _WHOLE_INT: dict.fromkeys(range(6), _WHOLE_INT),
        _WHOLE_REAL: dict.fromkeys(range(6), _WHOLE_REAL)}.items():
    for _class, _next in _by_class.items():
        _STEP[_state, _class] = _next
# The step by state and byte, flat: entry (state << 8) | byte.
_STEP_BY_BYTE = _STEP[:, _CLASS].astype(np.uint16).ravel()
# Words for values that are not numbers, as the converter writes them (NaN, Infinity) or numpy reads them.
_WORDS = np.array([b"nan", b"inf", b"infinity"])
_LONGEST_WORD = len(b"-infinity")
# No number the converter writes has more than 24 characters; a value far longer is no number.
_LONGEST = 64

NOT_A_NUMBER, INTEGER, REAL, WORD = range(4)
_SEPARATORS = _CLASS == _END


def _kinds(codes, starts, lengths):
    """NOT_A_NUMBER, INTEGER, REAL or WORD for every value: the grammar run over all values at
    once, one character column at a time, each value up to the separator after it."""
    if not len(starts):
        return np.zeros(0, dtype=np.uint8)
    width = min(int(lengths.max()), _LONGEST) + 1
    # Each value's first `width` bytes in a row, from a sliding view of the text: no index matrix.
    padded = np.concatenate((codes, np.full(width, ord(" "), dtype=np.uint8)))
    text = np.lib.stride_tricks.sliding_window_view(padded, width)[starts]
    state = np.full(len(starts), _START, dtype=np.uint16)
    for column in range(width):
        state = np.take(_STEP_BY_BYTE, (state << 8) | text[:, column])
    kinds = np.full(len(starts), NOT_A_NUMBER, dtype=np.uint8)
    kinds[state == _WHOLE_INT] = INTEGER
    kinds[state == _WHOLE_REAL] = REAL
    kinds[lengths >= width] = NOT_A_NUMBER
    maybe_word = np.flatnonzero((kinds == NOT_A_NUMBER) & (lengths <= _LONGEST_WORD))
    if maybe_word.size:
        word = np.zeros((maybe_word.size, _LONGEST_WORD), dtype=np.uint8)
        word[:, :min(width, _LONGEST_WORD)] = text[maybe_word, :_LONGEST_WORD]
        word[np.arange(_LONGEST_WORD) >= lengths[maybe_word, None]] = 0
        signed = _CLASS[word[:, 0]] == _SIGN
        word[signed] = np.roll(word[signed], -1, axis=1)
        word[signed, -1] = 0
        word[(word >= ord("A")) & (word <= ord("Z"))] |= 0x20
        # A NUL inside would pass for the end of the word: only values without one are words.
        whole = np.count_nonzero(word, axis=1) == lengths[maybe_word] - signed
        kinds[maybe_word[whole & np.isin(word.view(f"S{_LONGEST_WORD}").ravel(), _WORDS)]] = WORD
    return kinds


def value_starts(codes: np.ndarray) -> np.ndarray:
    """Where each value of a text (its bytes as uint8) begins: a byte that is no separator (blank,
    tab, CR, LF) at the start or after one.

    Examples
    --------
    >>> value_starts(np.frombuffer(b" 1 22\\t3\\n", dtype=np.uint8)).tolist()
    [1, 3, 6]
    """
    separator = _SEPARATORS[codes]
    starts = ~separator
    starts[1:] &= separator[:-1]
    return np.flatnonzero(starts)


class TextScan:
    """Positions of the lines and values of a text, and the kind of every value, found without a
    loop over its values.

    A line ends at LF; blanks, tabs and CR separate values, and nothing else does. A last line
    without LF counts as a line.

    Parameters
    ----------
    data : bytes
        The text.
    first_line : int
        Number of its first line in the file, for messages.

    Examples
    --------
    >>> scan = TextScan(b"1 2.5E+001\\r\\nNaN 1_000.5\\n")
    >>> scan.values_per_line.tolist(), scan.kinds.tolist()
    ([2, 2], [1, 2, 3, 0])
    >>> try:
    ...     scan.numbers("f")
    ... except KavroFieldError as err:
    ...     print(err)
    f: line 2: '1_000.5' is not a number
    """

    def __init__(self, data, first_line=1):
        self.data = data
        self.first_line = first_line
        codes = np.frombuffer(data, dtype=np.uint8)
        separator = _SEPARATORS[codes]
        ends_value = ~separator
        ends_value[:-1] &= separator[1:]
        self.value_starts = value_starts(codes)
        self.value_ends = np.flatnonzero(ends_value) + 1
        del separator, ends_value
        newlines = np.flatnonzero(codes == 10)
        self.line_count = len(newlines) + (1 if data and data[-1:] != b"\n" else 0)
        # Line (from 0) of every value: the number of line ends before its first character.
        self.value_lines = np.searchsorted(newlines, self.value_starts)
        self.values_per_line = np.bincount(self.value_lines, minlength=self.line_count)
        self.kinds = _kinds(codes, self.value_starts, self.value_ends - self.value_starts)

    def check_values_per_line(self, path, expected):
        """Fail at the first line whose number of values differs from `expected`.

        Parameters
        ----------
        path : str
            File named in the error.
        expected : numpy.ndarray
            Number of values each line must hold; its length is the number of lines.
        """
        found = self.values_per_line
        common = min(len(found), len(expected))
        wrong = np.flatnonzero(found[:common] != expected[:common])
        if wrong.size:
            line = int(wrong[0])
            raise DamagedFileError(path, f"line {line + self.first_line}: {_values(found[line])}"
                                       f" where {_values(expected[line])} expected")
        if len(found) < len(expected):
            raise DamagedFileError(
                path, f"line {len(found) + 1}: the file ends where {len(expected)} lines are expected")
        if len(found) > len(expected):
            raise DamagedFileError(path, f"line {len(expected) + 1}: more lines after the end of the layout")

    def line_of(self, index):
        """Line number in the file of value number `index` (from 0)."""
        return int(self.value_lines[index]) + self.first_line

    def numbers(self, path):
        """All values of the text as float64, in order; NaN and infinities as they are written.

        Raises
        ------
        UnreadableInputError or DamagedFileError
            Naming the line and the text of the first value that is not a number.
        """
        bad = np.flatnonzero(self.kinds == NOT_A_NUMBER)
        if bad.size:
            index = int(bad[0])
            raise DamagedFileError(path, f"line {self.line_of(index)}: {self.value_text(index)!r} is not a number")
        # Every value is now one number by the grammar above, which numpy's parser reads alike.
        values = np.fromstring(self.data, dtype=np.float64, sep=" ")
        if len(values) != len(self.value_starts):
            raise RuntimeError(f"{len(values)} numbers parsed from {len(self.value_starts)} values")
        return values

    def value_text(self, index):
        """Text of value number `index` (from 0)."""
        return self.data[int(self.value_starts[index]):int(self.value_ends[index])].decode("latin-1")


def _values(count):
    return f"{count} value" if count == 1 else f"{count} values"


def lines_of_statements(value_counts, per_line):
    """Number of values on each line of list-directed statements that wrap after `per_line`.

    Parameters
    ----------
    value_counts : sequence of int
        Values of each statement; a statement starts on a new line.
    per_line : sequence of int
        Values that fit on one line, per statement.

    Returns
    -------
    numpy.ndarray
        Values per line, for all lines of all statements.
    """
    pieces = []
    for count, width in zip(value_counts, per_line):
        full, rest = divmod(count, width)
        pieces.append(np.full(full, width, dtype=np.int64))
        if rest:
            pieces.append(np.array([rest], dtype=np.int64))
    return np.concatenate(pieces)
