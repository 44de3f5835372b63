"""The one error type of the companion: a file it cannot read (or write)."""


class FieldFileError(Exception):
    """A field file, control file or table that cannot be read, or an output that cannot be written.

    Parameters
    ----------
    path : str or os.PathLike
        The file concerned.
    problem : str
        What is wrong, with the byte offset or line where the reader stopped.

    Examples
    --------
    >>> try:
    ...     kavro_field.load("missing.dat")
    ... except FieldFileError as err:
    ...     print(err.path)
    missing.dat
    """

    def __init__(self, path, problem):
        self.path = str(path)
        self.problem = problem
        super().__init__(f"{self.path}: {problem}")
