"""Reading files as bytes, and vectorised scanning of text: lines, values per line, numbers."""

import warnings

import numpy as np

from .errors import FieldFileError

_BLANKS = np.zeros(256, dtype=bool)
_BLANKS[[9, 10, 13, 32]] = True


def read_bytes(path):
    """Whole content of a file.

    Raises
    ------
    FieldFileError
        When the file is missing, a directory or not readable.
    """
    try:
        with open(path, "rb") as stream:
            return stream.read()
    except IsADirectoryError:
        raise FieldFileError(path, "is a directory, not a file") from None
    except OSError as err:
        raise FieldFileError(path, f"cannot be read: {err.strerror or err}") from None


class TextScan:
    """Positions of the lines and values of a text, found without a loop over its values.

    A line ends at LF; a CR before it and blanks or tabs separate values. A last line
    without LF counts as a line.

    Parameters
    ----------
    data : bytes
        The text.
    first_line : int
        Number of its first line in the file, for messages.
    """

    def __init__(self, data, first_line=1):
        self.data = data
        self.first_line = first_line
        codes = np.frombuffer(data, dtype=np.uint8)
        blank = _BLANKS[codes]
        starts_value = ~blank
        starts_value[1:] &= blank[:-1]
        self.value_starts = np.flatnonzero(starts_value)
        newlines = np.flatnonzero(codes == 10)
        self.line_count = len(newlines) + (1 if data and data[-1:] != b"\n" else 0)
        # Line (from 0) of every value: the number of line ends before its first character.
        self.value_lines = np.searchsorted(newlines, self.value_starts)
        self.values_per_line = np.bincount(self.value_lines, minlength=self.line_count)

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
            raise FieldFileError(path, f"line {line + self.first_line}: {_values(found[line])}"
                                       f" where {_values(expected[line])} expected")
        if len(found) < len(expected):
            raise FieldFileError(
                path, f"line {len(found) + 1}: the file ends where {len(expected)} lines are expected")
        if len(found) > len(expected):
            raise FieldFileError(path, f"line {len(expected) + 1}: more lines after the end of the layout")

    def numbers(self, path):
        """All values of the text as float64, in order.

        Raises
        ------
        FieldFileError
            Naming the line of the first value that is not a number.
        """
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                values = np.fromstring(self.data, dtype=np.float64, sep=" ")
            except ValueError:  # newer numpy refuses text that is not all numbers
                values = np.empty(0)
        if len(values) == len(self.value_starts):
            return values
        bad = len(values)  # the parser stops at the first value it cannot read
        for index in range(max(bad - 1, 0), len(self.value_starts)):
            text = self.value_text(index)
            try:
                float(text)
            except ValueError:
                bad = index
                break
        line = int(self.value_lines[bad]) + self.first_line
        raise FieldFileError(path, f"line {line}: {self.value_text(bad)!r} is not a number")

    def value_text(self, index):
        """Text of value number `index` (from 0)."""
        start = int(self.value_starts[index])
        end = start
        while end < len(self.data) and not _BLANKS[self.data[end]]:
            end += 1
        return self.data[start:end].decode("latin-1")


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
