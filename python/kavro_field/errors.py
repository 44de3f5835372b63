"""The companion's errors, by cause: an input it cannot read, a file that is damaged or not a field
file, an output it cannot write. All derive from `KavroFieldError`, which the command line turns
into one line and exit status 2; each also derives from the builtin a reader's caller expects
(OSError for what the system refuses, ValueError for content)."""

import os
from typing import Union


class KavroFieldError(Exception):
    """A field file, control file or table that cannot be read, or an output that cannot be written.

    Parameters
    ----------
    path : str or os.PathLike
        The file concerned.
    problem : str
        What is wrong, with the byte offset or line where the reader stopped.

    Examples
    --------
    >>> import kavro_field
    >>> try:
    ...     kavro_field.load("no such file.dat")
    ... except KavroFieldError as err:
    ...     print(err.path, "|", type(err).__name__, "|", isinstance(err, OSError))
    no such file.dat | UnreadableInputError | True
    """

    def __init__(self, path: Union[str, "os.PathLike[str]"], problem: str) -> None:
        self.path = str(path)
        self.problem = problem
        super().__init__(f"{self.path}: {problem}")

    def __str__(self) -> str:
        return f"{self.path}: {self.problem}"


class UnreadableInputError(KavroFieldError, OSError):
    """An input that is missing, not a regular file, or that the system refuses to read.

    Examples
    --------
    >>> err = UnreadableInputError("table.txt", "cannot be read: Permission denied")
    >>> isinstance(err, OSError), err.path
    (True, 'table.txt')
    """


class DamagedFileError(KavroFieldError, ValueError):
    """A file whose content is not what its kind holds: damaged, cut short, or another kind of file.

    Examples
    --------
    >>> from kavro_field import load
    >>> caught = None
    >>> try:
    ...     load("examples/lens/lens.txt")  # a table, not a field file
    ... except ValueError as err:  # as a reader's callers expect
    ...     caught = err
    >>> type(caught).__name__, "a field file has" in caught.problem
    ('DamagedFileError', True)
    """


class UnwritableOutputError(KavroFieldError, OSError):
    """An output that cannot be written (its folder, its name, the disk or a limit refuses it).

    Examples
    --------
    >>> str(UnwritableOutputError("out.npz", "cannot be written: No space left on device"))
    'out.npz: cannot be written: No space left on device'
    """


class StandardOutputError(KavroFieldError, OSError):
    """Standard output refused the command's own text (a full disk, a closed pipe, a file-size limit).

    Only the command line's writes to standard output raise it, so that a failed write elsewhere
    (matplotlib's cache, an output file) is never told as standard output's.

    Examples
    --------
    >>> str(StandardOutputError("No space left on device"))
    'standard output: No space left on device'
    """

    def __init__(self, problem: str) -> None:
        super().__init__("standard output", problem)


class DrawingError(KavroFieldError, OSError):
    """matplotlib failed to import or to draw the figure for a reason of the system (its cache folder
    cannot be written, a file-size limit, a full disk); `path` is the file or folder concerned.

    Examples
    --------
    >>> str(DrawingError("/home/u/.cache/matplotlib", "matplotlib's cache folder: File too large"))
    "/home/u/.cache/matplotlib: matplotlib's cache folder: File too large"
    """


# The name callers have caught since the companion had one error type.
FieldFileError = KavroFieldError


class BadUsageError(KavroFieldError, ValueError):
    """Options that cannot be used together or with this file: a unit or field kind missing or
    contradicting what the file, its table or the control file states, a value out of range.

    It concerns the command line's options rather than one file, so it shows only the problem.

    Examples
    --------
    >>> err = BadUsageError("--momentum needs the units: give --length-unit and --field-unit, or --control")
    >>> str(err).startswith("--momentum"), isinstance(err, KavroFieldError), err.path
    (True, True, '')
    """

    def __init__(self, problem: str) -> None:
        super().__init__("", problem)

    def __str__(self) -> str:
        return self.problem
