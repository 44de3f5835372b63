"""The table's rows read in bulk: plain lines of numbers by numpy, the rest by the general
list-directed rules, with the same values either way."""

import numpy as np

from .listread import BLANKS, EXPONENT_LETTERS, Lines, read_list
from .textscan import value_starts



# Bytes of a table row that the plain path reads: digits, point, signs, exponent letters, blanks.
_PLAIN = np.zeros(256, dtype=bool)
_PLAIN[[ord(c) for c in "0123456789.+-" + EXPONENT_LETTERS + BLANKS]] = True
# The exponent letters as numpy reads them.
_EXPONENTS = bytes.maketrans(EXPONENT_LETTERS.encode(), b"e" * len(EXPONENT_LETTERS))


class TableRows:
    """The table rows: one list-directed read of four reals each, a fresh line for each.

    Lines made only of plain numbers and blanks, with four values or more, are read together by
    numpy; a row that is not plain (commas, nulls, spread over lines, a remark, a bad value) is
    read by the general rules. Both give the same values: a plain constant is read by either as
    its correctly rounded value.
    """

    def __init__(self, src: Lines):
        self.src = src
        self.base = src.next
        starts, ends = src.starts[self.base:], src.ends[self.base:]
        if len(starts) == 0:
            self.plain = np.zeros(0, dtype=bool)
            return
        origin = int(starts[0])
        codes = np.frombuffer(src.data, dtype=np.uint8)[origin:]
        # Counted per line by where the few marked bytes are: no pass over the text by cumsum.
        bad = np.flatnonzero(~_PLAIN[codes])
        tokens = value_starts(codes)
        s, e = starts - origin, ends - origin
        self.tokens = np.searchsorted(tokens, e) - np.searchsorted(tokens, s)
        self.plain = (np.searchsorted(bad, e) == np.searchsorted(bad, s)) & (self.tokens >= 4)

    def _convert(self, i, j):
        """Values of the first four numbers of lines i .. j - 1 (relative), or None if any fails."""
        src = self.src
        text = src.data[src.starts[self.base + i]:src.ends[self.base + j - 1]].translate(_EXPONENTS)
        try:
            values = np.array(text.split()).astype(np.float64)
        except ValueError:
            return None
        counts = self.tokens[i:j]
        first = np.concatenate(([0], np.cumsum(counts)[:-1]))
        return values[first[:, None] + np.arange(4)]

    def _plain_run(self, i, j):
        """Values of the longest start of lines i .. j - 1 that reads as plain rows."""
        values = self._convert(i, j)
        if values is None:
            if j - i == 1:
                return np.zeros((0, 4))
            mid = (i + j) // 2
            head = self._plain_run(i, mid)
            if len(head) < mid - i:
                return head
            return np.concatenate((head, self._plain_run(mid, j)))
        finite = np.isfinite(values).all(axis=1)  # an overflow is the general rules' failure
        return values if finite.all() else values[:int(np.argmin(finite))]

    def read(self, count):
        """(values (count, 4), line of each row, oddities)."""
        values = np.zeros((count, 4))
        lines = np.zeros(count, dtype=np.int64)
        oddities = []
        row = 0
        last = [0.0] * 4
        while row < count:
            i = self.src.next - self.base
            if i < len(self.plain) and self.plain[i]:
                j = i + 1
                limit = min(len(self.plain), i + count - row)
                # the run of plain lines, found a block at a time
                while j < limit:
                    block = self.plain[j:min(limit, j + 4096)]
                    stop = np.flatnonzero(~block)
                    if stop.size:
                        j += int(stop[0])
                        break
                    j += len(block)
                run = self._plain_run(i, j)
                k = len(run)
                if k < j - i:
                    self.plain[i + k] = False  # read by the general rules, once
                if k:
                    values[row:row + k] = run
                    lines[row:row + k] = np.arange(self.base + i + 1, self.base + i + k + 1)
                    self.src.next += k
                    row += k
                    last = [float(v) for v in run[-1]]
                    continue
            statement = read_list(self.src, last, [False] * 4)
            first = next((o for o in statement.origins if o is not None), None)
            lines[row] = first.line if first is not None else statement.last_line
            oddities += statement.oddities
            values[row] = last
            row += 1
        return values, lines, oddities

    def leading_plain(self) -> int:
        """How many lines from the first row on hold four numbers or more, one after the other
        (before `read` has passed any to the general rules)."""
        stop = np.flatnonzero(~self.plain)
        return int(stop[0]) if stop.size else len(self.plain)
