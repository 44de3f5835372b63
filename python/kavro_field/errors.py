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
    >>> import kavro_field
    >>> try:
    ...     kavro_field.load("examples")
    ... except UnreadableInputError as err:
    ...     print(err)
    examples: is a directory, not a file
    """


class DamagedFileError(KavroFieldError, ValueError):
    """A file whose content is not what its kind holds: damaged, cut short, or another kind of file.

    Examples
    --------
    >>> import kavro_field
    >>> try:
    ...     kavro_field.load("examples/lens/lens.txt")
    ... except DamagedFileError as err:
    ...     print(isinstance(err, ValueError), "a field file has" in err.problem)
    True True
    """


class UnwritableOutputError(KavroFieldError, OSError):
    """An output that cannot be written (its folder, its name, the disk or a limit refuses it).

    Examples
    --------
    >>> import kavro_field
    >>> try:
    ...     kavro_field.export_npz(kavro_field.load(field_path), "examples")
    ... except UnwritableOutputError as err:
    ...     print(err)
    examples: is a directory, not a file
    """


# The name callers have caught since the companion had one error type.
FieldFileError = KavroFieldError
