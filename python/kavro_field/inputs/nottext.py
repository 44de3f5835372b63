"""Inputs that are not text: a field file given as the control file or the table, or a file
holding NUL bytes. The converter reads such a file as lines of garbage; the companion names what
it looks like instead and reads no further."""

from typing import List, Optional

from ..errors import DamagedFileError
from ..fieldfiles.layouts import LAYOUT_0_BYTES, RECORD_BYTES, TEXT_BYTES
from ..findings import Finding
from .textscan import LARGEST_TEXT_INPUT




def field_file_layout(data: bytes) -> Optional[int]:
    """The layout of the field file the bytes look like (by its size and first record or
    line), or None.

    Examples
    --------
    >>> field_file_layout(b"title\\n")
    """
    if len(data) == LAYOUT_0_BYTES and data[:4] == RECORD_BYTES[0].to_bytes(4, "little"):
        return 0
    if TEXT_BYTES[0] <= len(data) <= TEXT_BYTES[1]:
        first = data[:200].split(b"\n", 1)[0].split()
        if len(first) == 3:
            return 1
        if len(first) == 1:
            return 2
    return None


def not_text(data: bytes, name: str, role: str = "control file") -> List[Finding]:
    """A control file or table that is not text: a field file given in its place, or NUL bytes.

    Parameters
    ----------
    data : bytes
        The file's content (its first megabytes are enough for NUL bytes).
    name : str
        The name to show.
    role : str
        "control file" or "table".

    Examples
    --------
    >>> not_text(b"\\x00\\x01binary", "data.bin")[0].message
    'holds NUL bytes (the first at byte 0): not a text file, not a control file'
    >>> not_text(b"title\\n", "poisson_to_kavro.dat")
    []
    """
    layout = field_file_layout(data)
    if layout is not None:
        return [Finding("input.not-text", f"looks like a field file of layout {layout}, not a {role}", name,
                        value=float(layout), data={"layout": layout, "role": role})]
    nul = data.find(b"\0")
    if nul >= 0:
        return [Finding("input.not-text", f"holds NUL bytes (the first at byte {nul}): not a text"
                                          f" file, not a {role}", name, value=float(nul),
                        data={"offset": nul, "role": role})]
    return []


def refuse_not_text(t) -> None:
    """Raise DamagedFileError naming what the traced conversion's control file or table looks
    like, where either is not text.

    Examples
    --------
    >>> from kavro_field.inputs import trace
    >>> refuse_not_text(trace(example))
    >>> try:
    ...     refuse_not_text(trace(field_path))
    ... except DamagedFileError as err:
    ...     print(err.problem)
    looks like a field file of layout 0, not a control file
    """
    for path, role in ((t.control_path, "control file"), (t.table_path, "table")):
        if path is None:
            continue
        try:
            with open(path, "rb") as source:
                data = source.read(LARGEST_TEXT_INPUT)
        except OSError:
            continue  # the trace tells how the converter fails to read it
        found = not_text(data, path, role)
        if found:
            raise DamagedFileError(path, found[0].message)
