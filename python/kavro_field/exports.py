"""Writing a field file's content as a NumPy archive or as VTK XML image data."""

import base64
import io

import numpy as np

from .outputs import write_atomically


def export_npz(f, path):
    """NumPy archive with x_grid, y_grid, z_grid, Fx, Fy, Fz ([i, j, k]) and ksym."""
    # Made in memory (3 MB) and written in one go: a zip archive that fails half way through a file
    # would try again to write its directory when it is collected, and fail again after the report.
    archive = io.BytesIO()
    np.savez(archive, x_grid=f.x_grid, y_grid=f.y_grid, z_grid=f.z_grid,
             Fx=f.Fx, Fy=f.Fy, Fz=f.Fz, ksym=np.array(f.ksym, dtype=np.int32))

    def write(temporary):
        with open(temporary, "wb") as out:
            out.write(archive.getbuffer())
    write_atomically(path, write, inputs=[f.path])


def vti_document(f):
    """VTK XML image data of the field: one 3-component point array, x fastest, then y, then z.

    The grid is uniform, so origin and spacing describe it; the field name is "E", "B" or "field".
    """
    nx, ny, nz = f.Fx.shape
    spacing = [float((g[-1] - g[0]) / (len(g) - 1)) for g in f.grids]
    # Point (i, j, k) is tuple number i + nx (j + ny k): Fortran order of [i, j, k].
    points = np.stack([c.ravel(order="F") for c in f.components], axis=1).astype("<f8")
    raw = points.tobytes()
    # Inline binary data: a 32-bit byte count, then the bytes, base64 encoded together.
    payload = base64.b64encode(np.uint32(len(raw)).astype("<u4").tobytes() + raw).decode("ascii")
    return (
        '<?xml version="1.0"?>\n'
        '<VTKFile type="ImageData" version="0.1" byte_order="LittleEndian" header_type="UInt32">\n'
        f'  <ImageData WholeExtent="0 {nx - 1} 0 {ny - 1} 0 {nz - 1}"'
        f' Origin="{float(f.x_grid[0])!r} {float(f.y_grid[0])!r} {float(f.z_grid[0])!r}"'
        f' Spacing="{spacing[0]!r} {spacing[1]!r} {spacing[2]!r}">\n'
        f'    <Piece Extent="0 {nx - 1} 0 {ny - 1} 0 {nz - 1}">\n'
        f'      <PointData Vectors="{f.field_name}">\n'
        f'        <DataArray type="Float64" Name="{f.field_name}" NumberOfComponents="3" format="binary">\n'
        f'{payload}\n'
        '        </DataArray>\n'
        '      </PointData>\n'
        '    </Piece>\n'
        '  </ImageData>\n'
        '</VTKFile>\n')


def export_vti(f, path):
    """Write `vti_document(f)` to `path`."""
    document = vti_document(f)

    def write(temporary):
        with open(temporary, "w", encoding="ascii") as out:
            out.write(document)
    write_atomically(path, write, inputs=[f.path])
