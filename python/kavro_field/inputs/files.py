"""Opening the converter's inputs and outputs as the converter does, and the failure (message
number and unit) each refusal of the system ends its run with."""

import errno
import os
import stat
from typing import List, Optional, Tuple

from ..errors import DamagedFileError
from .listread import ReadFailure
from .messages import (ACCESS_DENIED, BAD_FILE_NAME, FILE_NOT_FOUND, OPEN_FAILURE, OUTPUT_UNIT, READ_ERROR,
                       READ_ONLY_FILE, WRITE_ERROR)
from .names import full_path
from .textscan import LARGEST_TEXT_INPUT as LARGEST_INPUT


def _system_text(code):
    return os.strerror(code)




def read_old(folder: str, name: str, unit: int) -> Tuple[bytes, str]:
    """The content of an existing file opened as the converter opens it; ReadFailure as its
    open or read would fail (29 missing, 9 refused, 43 bad name, 30 other, 39 read refused)."""
    path = full_path(folder, name)
    if "\0" in name:
        raise ReadFailure(BAD_FILE_NAME, unit, path, why="the name holds a NUL character")
    target = name if name.startswith("/") else os.path.join(folder, name)
    try:
        if not name:
            raise FileNotFoundError(errno.ENOENT, "no name")
        fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
    except OSError as err:
        code = err.errno
        if code in (errno.ENOENT, errno.ENOTDIR):
            raise ReadFailure(FILE_NOT_FOUND, unit, path, why=f"the file {name!r} does not exist") from None
        if code in (errno.EACCES, errno.EPERM):
            raise ReadFailure(ACCESS_DENIED, unit, path, why="permission to read the file is refused") from None
        if code == errno.ENAMETOOLONG:
            raise ReadFailure(BAD_FILE_NAME, unit, path, why="the name is too long") from None
        raise ReadFailure(OPEN_FAILURE, unit, path, why=f"the open fails: {_system_text(code)}",
                          system_text=_system_text(code)) from None
    try:
        if stat.S_ISFIFO(os.fstat(fd).st_mode):
            return b"", path  # a FIFO without a writer reads as an empty file
        chunks: List[bytes] = []
        size = 0
        while size <= LARGEST_INPUT:
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                return b"".join(chunks), path
            chunks.append(chunk)
            size += len(chunk)
    except OSError as err:
        raise ReadFailure(READ_ERROR, unit, path, why=f"the read fails: {_system_text(err.errno)}",
                          system_text=_system_text(err.errno)) from None
    finally:
        os.close(fd)
    # The converter streams its inputs but holds one line whole and refuses a line of 64 MiB or
    # more (a device that never ends, a file without line ends): that much read without a line
    # end is that failure. A larger file of ordinary lines is more than any control file or
    # table of the map's size, and is not read on.
    if b"\n" not in b"".join(chunks)[:LARGEST_INPUT]:
        raise ReadFailure(READ_ERROR, unit, path, why="a line of 64 MiB or more",
                          system_text=_system_text(errno.EFBIG))
    raise DamagedFileError(target, f"more than {LARGEST_INPUT:,} bytes: larger than any control file or table,"
                                 " not read")


def output_failure(folder, name) -> Optional[ReadFailure]:
    """The failure the converter's output open or write will meet, where it can be told before."""
    target = os.path.join(folder, name)
    path = full_path(folder, name)
    if os.path.isdir(target):
        return ReadFailure(OPEN_FAILURE, OUTPUT_UNIT, path, why="the output name is a folder", system_text=os.strerror(errno.EISDIR))
    if os.path.exists(target):
        if os.path.realpath(target) == "/dev/full":
            return ReadFailure(WRITE_ERROR, OUTPUT_UNIT, path, why="the output is the full device",
                               system_text=os.strerror(errno.ENOSPC))
        if not os.access(target, os.W_OK):
            return ReadFailure(READ_ONLY_FILE if os.access(target, os.R_OK) else ACCESS_DENIED, OUTPUT_UNIT, path,
                               why="the existing output file cannot be written")
    elif not os.access(folder, os.W_OK):
        return ReadFailure(ACCESS_DENIED, OUTPUT_UNIT, path, why="the folder does not let the output file be created")
    return None
