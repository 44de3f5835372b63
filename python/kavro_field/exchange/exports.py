"""Writing a field file's content as a NumPy archive or as VTK XML image data, with what is known
about it: its header, its units where the user gives them, and where it came from."""

import base64
import hashlib
import io
import os
from typing import TYPE_CHECKING, Any, Optional

import numpy as np

from .._version import __version__
from ..atomic import write_atomically

if TYPE_CHECKING:
    from ..fieldfiles.layouts import FieldFile


def provenance(f) -> dict:
    """Where a field file's content came from: its name, the SHA-256 of its bytes, this companion.

    Examples
    --------
    >>> provenance(kavro_field.load(field_path))["source_file"]
    'eh_EMS.#01'
    """
    with open(f.path, "rb") as source:
        digest = hashlib.sha256(source.read()).hexdigest()
    return {"source_file": os.path.basename(f.path), "source_sha256": digest,
            "companion_version": f"kavro-field {__version__}"}


def stored_half(f) -> Optional[str]:
    """What a reader must know of a grid that holds a half of the element, None for a whole one.

    The converter writes only the half from 0 along each axis with its symmetry flag set; the
    other half is the mirror image, which a reader of the exported grid must make itself.

    Examples
    --------
    >>> f = kavro_field.load(field_path)
    >>> stored_half(f) is None
    True
    >>> import dataclasses
    >>> stored_half(dataclasses.replace(f, ksym=(0, 0, 1)))
    'the grid holds the half z >= 0 of the element (ksym 0 0 1): readers must mirror it'
    """
    axes = [name for name, flag in zip("xyz", f.ksym) if flag != 0]
    if not axes:
        return None
    halves = ", ".join(f"{name} >= 0" for name in axes)
    flags = " ".join(str(int(v)) for v in f.ksym)
    part = {1: "half", 2: "quarter", 3: "eighth"}[len(axes)]
    return f"the grid holds the {part} {halves} of the element (ksym {flags}): readers must mirror it"


def metadata(f, length_unit: Optional[str] = None, field_unit: Optional[str] = None,
             kind: Optional[str] = None, frequency: Optional[float] = None) -> dict:
    """Everything an export carries beside the arrays: header values the layout holds, the field
    kind (the file's, else `kind`, else "unknown"), the units and frequency where given, what a
    stored half asks of a reader, the parities of an unfolded file, and the provenance.

    Examples
    --------
    >>> f = kavro_field.load(field_path)
    >>> metadata(f, "cm", "V/cm", "E")["kind"], metadata(f)["kind"]
    ('E', 'unknown')
    """
    known = {"d_elm": f.d_elm, "aper": f.aper, "kind": f.kind or kind or "unknown", "length_unit": length_unit,
             "field_unit": field_unit, "frequency": frequency, "stored_half": stored_half(f)}
    meta = {name: value for name, value in known.items() if value is not None}
    meta["ksym"] = tuple(int(v) for v in f.ksym)
    unfolding = getattr(f, "unfolding", None)
    if unfolding is not None:
        letter = meta["kind"] if meta["kind"] in ("E", "B") else "F"
        meta["unfolding"] = unfolding.describe(letter)
        for axis in unfolding.axes:
            if axis.odd is not None:
                # The components odd across the plane; the others are even.
                meta[f"odd_across_{axis.axis}"] = " ".join(letter + name[1] for name in axis.odd)
    meta.update(provenance(f))
    return meta


def export_npz(f: "FieldFile", path: str, **units: Any) -> None:
    """Write a NumPy archive of the field and its metadata.

    The archive holds x_grid, y_grid, z_grid, Fx, Fy, Fz ([i, j, k]), ksym, and each entry of
    `metadata` (strings as 0-d text arrays, numbers as 0-d arrays).

    Parameters
    ----------
    f : FieldFile
    path : str
    **units
        `length_unit`, `field_unit`, `kind`, `frequency`, as for `metadata`.

    Examples
    --------
    >>> export_npz(kavro_field.load(field_path), "lens.npz", length_unit="cm")
    >>> str(np.load("lens.npz")["source_sha256"])[:8]
    'db0a9420'
    """
    meta = metadata(f, **units)
    arrays = {name: np.asarray(value) for name, value in meta.items()}
    arrays["ksym"] = np.array(meta["ksym"], dtype=np.int32)
    # Made in memory (3 MB) and written in one go: a zip archive that fails half way through a file
    # would try again to write its directory when it is collected, and fail again after the report.
    archive = io.BytesIO()
    np.savez(archive, x_grid=f.x_grid, y_grid=f.y_grid, z_grid=f.z_grid, Fx=f.Fx, Fy=f.Fy, Fz=f.Fz, **arrays)

    def write(temporary):
        with open(temporary, "wb") as out:
            out.write(archive.getbuffer())
    write_atomically(path, write, inputs=[f.path])


def _field_data_array(name, value):
    """One array of VTK field data in ASCII: reals and integers as numbers, text as byte codes
    each followed by 0 (how VTK writes its string arrays)."""
    if isinstance(value, str):
        codes = " ".join(str(b) for b in value.encode("utf-8") + b"\0")
        return f'<DataArray type="String" Name="{name}" NumberOfTuples="1" format="ascii">{codes}</DataArray>'
    values = np.atleast_1d(value)
    kind = "Int32" if np.issubdtype(values.dtype, np.integer) else "Float64"
    text = " ".join(repr(int(v)) if kind == "Int32" else repr(float(v)) for v in values)
    return f'<DataArray type="{kind}" Name="{name}" NumberOfTuples="{values.size}" format="ascii">{text}</DataArray>'


def vti_document(f, **units) -> str:
    """VTK XML image data of the field: one 3-component point array, x fastest, then y, then z,
    and the metadata as field data.

    The grid is uniform, so origin and spacing describe it; the point array is named "E", "B" or
    "field" where the kind is unknown (the field data's kind then says "unknown").

    Examples
    --------
    >>> vti_document(kavro_field.load(field_path))[:21]
    '<?xml version="1.0"?>'
    """
    meta = metadata(f, **units)
    name = meta["kind"] if meta["kind"] in ("E", "B") else "field"
    nx, ny, nz = f.Fx.shape
    spacing = [float((g[-1] - g[0]) / (len(g) - 1)) for g in f.grids]
    # Point (i, j, k) is tuple number i + nx (j + ny k): Fortran order of [i, j, k].
    points = np.stack([c.ravel(order="F") for c in f.components], axis=1).astype("<f8")
    raw = points.tobytes()
    # Inline binary data: a 32-bit byte count, then the bytes, base64 encoded together.
    payload = base64.b64encode(np.uint32(len(raw)).astype("<u4").tobytes() + raw).decode("ascii")
    field_data = "".join(f"      {_field_data_array(key, value)}\n" for key, value in meta.items())
    return (
        '<?xml version="1.0"?>\n'
        '<VTKFile type="ImageData" version="0.1" byte_order="LittleEndian" header_type="UInt32">\n'
        f'  <ImageData WholeExtent="0 {nx - 1} 0 {ny - 1} 0 {nz - 1}"'
        f' Origin="{float(f.x_grid[0])!r} {float(f.y_grid[0])!r} {float(f.z_grid[0])!r}"'
        f' Spacing="{spacing[0]!r} {spacing[1]!r} {spacing[2]!r}">\n'
        '    <FieldData>\n'
        f'{field_data}'
        '    </FieldData>\n'
        f'    <Piece Extent="0 {nx - 1} 0 {ny - 1} 0 {nz - 1}">\n'
        f'      <PointData Vectors="{name}">\n'
        f'        <DataArray type="Float64" Name="{name}" NumberOfComponents="3" format="binary">\n'
        f'{payload}\n'
        '        </DataArray>\n'
        '      </PointData>\n'
        '    </Piece>\n'
        '  </ImageData>\n'
        '</VTKFile>\n')


def export_vti(f: "FieldFile", path: str, **units: Any) -> None:
    """Write `vti_document(f, **units)` to `path`.

    Examples
    --------
    >>> export_vti(kavro_field.load(field_path), "lens.vti", kind="E")
    """
    document = vti_document(f, **units)

    def write(temporary):
        with open(temporary, "w", encoding="ascii") as out:
            out.write(document)
    write_atomically(path, write, inputs=[f.path])
