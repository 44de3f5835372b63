"""Outputs written whole or not at all.

Every file the companion writes (archives, VTK and HDF5 files, figures) is first written to a
temporary file in the target's folder and renamed onto the target only once it is complete and
on disk: a full disk, a file-size limit or an interrupted run leaves an existing target as it was
and no partial file beside it. The rename stays within one folder, so it is atomic.
"""

import os
import tempfile
from typing import Callable, Iterable

from .errors import KavroFieldError, UnwritableOutputError


def _names_same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def _mode_for(target: str) -> int:
    """An existing target's permissions, else those a plain open() would give under the umask."""
    try:
        return os.stat(target).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def write_atomically(target: str, write: Callable[[str], None], inputs: Iterable[str] = ()) -> None:
    """Write an output through a temporary file beside it, then rename it into place.

    Parameters
    ----------
    target : str
        The output's path.
    write : callable
        Called with the temporary file's path (an empty file that already exists); writes the
        whole output there.
    inputs : iterable of str
        Files the output is made from: a target that names one of them is refused, so that a
        command never overwrites its own input.

    Raises
    ------
    FieldFileError
        When the target names an input, is a folder, or cannot be written; the target is then
        unchanged and no temporary file is left.

    Examples
    --------
    >>> import os, pathlib, tempfile
    >>> out = os.path.join(tempfile.mkdtemp(), "note.txt")
    >>> write_atomically(out, lambda tmp: pathlib.Path(tmp).write_text("complete"))
    >>> pathlib.Path(out).read_text()
    'complete'
    """
    target = os.fspath(target)
    for source in inputs:
        if _names_same_file(target, os.fspath(source)):
            raise UnwritableOutputError(target, "is an input of this command; choose another output name")
    if os.path.isdir(target):
        raise UnwritableOutputError(target, "is a directory, not a file")
    if os.path.lexists(target) and not os.path.isfile(target):
        # A device or FIFO would be replaced by a plain file: /dev/null, say, for a run as root.
        raise UnwritableOutputError(target, "is not a regular file, which is all an output may replace")
    folder = os.path.dirname(os.path.abspath(target))
    mode = _mode_for(target)
    try:
        handle, temporary = tempfile.mkstemp(dir=folder, prefix=f".{os.path.basename(target)}.", suffix=".tmp")
    except OSError as err:
        raise UnwritableOutputError(target, f"cannot be written: {err.strerror or err}") from None
    os.close(handle)
    try:
        write(temporary)
        with open(temporary, "rb+") as written:
            os.fsync(written.fileno())
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException as err:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        if isinstance(err, OSError) and not isinstance(err, KavroFieldError):
            raise UnwritableOutputError(target, f"cannot be written: {err.strerror or err}") from None
        raise
