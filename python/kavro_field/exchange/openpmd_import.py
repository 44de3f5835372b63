"""KAVRO field files from the external field meshes of the openPMD beam-physics extension.

A mesh is found at the root's `externalFieldPath` (with its `%T` pattern, one group per mesh),
taken at a phase where it oscillates, scaled by its `fieldScale` and placed by its `eleAnchorPt`
and `gridOriginOffset` on the KAVRO element, whose centre is z = 0 and entrance z = -d_elm / 2.

- A rectangular mesh (x, y, z) is sampled at the KAVRO grid's nodes by trilinear interpolation in
  its cells; a node that coincides with a mesh node (to rounding) takes that node's value as it
  is, so a mesh on the KAVRO grid itself gives its own values back bit for bit. The file is then
  written by the companion's writer, byte for byte as the converter would write those arrays.
- A cylindrical mesh (r, theta, z) that does not depend on theta becomes a table in the field
  solver's format, values written so that they read back to the same doubles, with a control
  file; the converter converts it in a temporary folder, so the file is the converter's own.
"""

import math
import os
import shutil
import subprocess
import tempfile
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional, Tuple, Union

import numpy as np

from ..errors import DamagedFileError, UnreadableInputError
from ..fieldfiles.grid import AXIS_NAMES, NODE_COUNTS
from ..inputs import trace
from ..inputs.names import output_name
from ..inputs.prepared import output_grid
from ..atomic import write_atomically
from ..units import FIELD_UNITS, LENGTH_UNITS, unit_problem
from ..fieldfiles.writer import field_file_bytes

RECORDS = {"E": "electricField", "B": "magneticField"}
COMPONENTS = {"rectangular": ("x", "y", "z"), "cylindrical": ("r", "theta", "z")}
ANCHORS = ("beginning", "center", "end")
OUTSIDE_CHOICES = ("refuse", "zero")
# A KAVRO node this close to a mesh node, in cells, is on it: the mesh's own values are taken.
ON_NODE = 1e-9
# A theta-independent mesh: every theta slice equal to the first within this share of the peak.
THETA_TOLERANCE = 1e-12
# The converter's map holds at most 200 radial and 1000 longitudinal nodes.
MAP_NODES = (200, 1000)
CONVERTER_NAME = "poisson_to_kavro"
H5PY_MISSING = "the openPMD import needs the h5py package (Debian: apt-get install python3-h5py)"


@dataclass
class ImportResult:
    """What an import wrote and what it met.

    Attributes
    ----------
    path : str
        The field file written.
    layout : int
    kind : str
        "E" or "B".
    mesh : str
        The HDF5 path of the mesh read.
    geometry : str
        "rectangular" or "cylindrical".
    outside : int
        KAVRO nodes outside a rectangular mesh (set to zero; 0 for cylindrical meshes, where the
        converter makes the field zero outside the map).
    first_outside : tuple of float or None
        The first of them, (x, y, z) in the output's length unit.
    warnings : list of str

    Examples
    --------
    >>> r = ImportResult("eh_EMS.#01", 0, "B", "/ExternalFieldMesh/", "rectangular", 12, (-1.5, -1.5, -1.0))
    >>> r.outside, r.warnings
    (12, [])
    """

    path: str
    layout: int
    kind: str
    mesh: str
    geometry: str
    outside: int = 0
    first_outside: Optional[Tuple[float, float, float]] = None
    warnings: List[str] = field(default_factory=list)


def _text(value) -> str:
    if isinstance(value, np.ndarray) and value.shape == ():
        value = value[()]
    if isinstance(value, (bytes, np.bytes_)):
        return value.decode("ascii", "replace")
    return str(value)


def _vector(path, attrs, name, default=None, where=""):
    if name not in attrs:
        if default is None:
            raise DamagedFileError(path, f"{where}: the attribute {name} is missing")
        return np.asarray(default, dtype=np.float64)
    value = np.asarray(attrs[name], dtype=np.float64).ravel()
    if value.size != 3:
        raise DamagedFileError(path, f"{where}: {name} has {value.size} values where 3 are expected")
    return value


def read_control_grid(control) -> Dict[str, Any]:
    r"""The values of a control file that make the output grid and name the file.

    Parameters
    ----------
    control : str or os.PathLike
        The control file, or the folder that holds `poisson_to_kavro.dat`. Its table and mirror
        lines are read as the converter reads them but not used: the table need not exist.

    Returns
    -------
    dict
        kfile_num, layout (the control file's kform_3D), ksym (three flags), d_elm, aper.

    Raises
    ------
    UnreadableInputError
        When the control file is missing or cannot be opened.
    DamagedFileError
        When it stops before its aper.

    Examples
    --------
    >>> with open("poisson_to_kavro.dat", "w") as control:
    ...     _ = control.write("lens\n\nlens.txt\n0\n0\n7\n2\n0 0 1\n16.0\n1.0\n1.0\n1.0\n")
    >>> read_control_grid(".")
    {'kfile_num': 7, 'layout': 2, 'ksym': (0, 0, 1), 'd_elm': 16.0, 'aper': 1.0}
    """
    t = trace(control)
    if "aper" not in t.origins:
        why = " ".join(line.strip() for line in t.outcome.stderr) if t.outcome.outcome == "failure" else ""
        problem = "cannot be read as a control file up to its aper" + (f": {why}" if why else "")
        # A control file that is not there (or not a file) is unreadable; one that stops short is damaged.
        cause = DamagedFileError if os.path.isfile(t.control_path) else UnreadableInputError
        raise cause(t.control_path, problem)
    c: Dict[str, Any] = t.control
    return {"kfile_num": int(c["kfile_num"]), "layout": int(c["kform_3D"]),
            "ksym": (int(c["ksym_x"]), int(c["ksym_y"]), int(c["ksym_z"])),
            "d_elm": float(c["d_elm"]), "aper": float(c["aper"])}


def _mesh_group(path, h5, mesh):
    import h5py
    """(HDF5 path, group) of the one mesh the file holds, or of the one `mesh` names."""
    if "externalFieldPath" not in h5.attrs:
        raise DamagedFileError(path, "no externalFieldPath at the root: not an external field mesh file")
    pattern = _text(h5.attrs["externalFieldPath"])
    if "%T" not in pattern:
        name = pattern.strip("/")
        if name not in h5:
            raise DamagedFileError(path, f"the externalFieldPath {pattern} is not in the file")
        if mesh is not None and mesh != name.rsplit("/", 1)[-1] and mesh != name:
            raise DamagedFileError(path, f"no mesh {mesh!r}: the file holds the one mesh {pattern}")
        return "/" + name + "/", h5[name]
    head, _, tail = pattern.partition("%T")
    parent = head.strip("/")
    if parent and parent not in h5:
        raise DamagedFileError(path, f"the externalFieldPath {pattern} is not in the file")
    group = h5[parent] if parent else h5
    names = sorted(n for n, node in group.items()
                   if isinstance(node, h5py.Group) and (not tail.strip("/") or tail.strip("/") in node))
    if mesh is None:
        if len(names) != 1:
            raise DamagedFileError(path, f"{len(names)} meshes at {pattern} ({', '.join(names) or 'none'}): name one")
        mesh = names[0]
    if mesh not in names:
        raise DamagedFileError(path, f"no mesh {mesh!r} at {pattern}; the file holds {', '.join(names) or 'none'}")
    where = pattern.replace("%T", mesh)
    return where, h5[where.strip("/")]


def _component(path, record, name, shape, where):
    """A component's values (complex or real, constant components spread) and its unitSI; None
    where the component is absent, which the extension reads as zero."""
    if name not in record:
        return None, 1.0
    node = record[name]
    if "unitSI" not in node.attrs:
        raise DamagedFileError(path, f"{where}/{name}: no unitSI, so the field's unit is unknown")
    unit = float(np.asarray(node.attrs["unitSI"]).ravel()[0])
    if "value" in node.attrs:
        value = np.asarray(node.attrs["value"])
        return np.full(shape, value.ravel()[0], dtype=value.dtype), unit
    if not hasattr(node, "shape"):
        raise DamagedFileError(path, f"{where}/{name}: neither a dataset nor a constant component (value, shape)")
    data = np.asarray(node[()])
    if data.dtype.names and set(data.dtype.names) >= {"r", "i"}:
        data = data["r"] + 1j * data["i"]
    if data.shape != shape:
        labels = [_text(v) for v in np.asarray(record.attrs.get("axisLabels", [])).ravel()]
        if data.shape == shape[::-1] and labels[::-1] == list(COMPONENTS["rectangular"]):
            data = data.transpose()
        else:
            raise DamagedFileError(path, f"{where}/{name}: shape {data.shape} where the gridSize is {shape}")
    return data, unit


@dataclass
class _Mesh:
    where: str
    geometry: str
    kind: str
    values: List[Optional[np.ndarray]]  # real, in the output's field unit
    spacing: np.ndarray  # in the output's length unit
    origin: np.ndarray  # of index 0, in the KAVRO frame, output length unit
    shape: Tuple[int, ...]
    warnings: List[str]


def _read_mesh(path, h5, mesh, kind, phase, length_unit, field_unit, d_elm) -> _Mesh:
    where, group = _mesh_group(path, h5, mesh)
    attrs = group.attrs
    geometry = _text(attrs.get("gridGeometry", b"")).strip()
    if geometry not in COMPONENTS:
        raise DamagedFileError(path, f"{where}: gridGeometry {geometry!r} where rectangular or cylindrical is expected")
    present = [k for k, name in RECORDS.items() if name in group]
    if not present:
        raise DamagedFileError(path, f"{where}: neither electricField nor magneticField")
    if kind is None:
        if len(present) > 1:
            raise DamagedFileError(path, f"{where}: holds electricField and magneticField: give the kind (E or B)")
        kind = present[0]
    elif kind not in present:
        raise DamagedFileError(path, f"{where}: no {RECORDS.get(kind, kind)}")
    problem = unit_problem(field_unit, kind)
    if problem:
        raise DamagedFileError(path, problem)
    warnings = []
    harmonic = int(np.asarray(attrs.get("harmonic", 0)).ravel()[0])
    rotation = 1.0 + 0.0j
    if harmonic != 0:
        if phase is None:
            raise DamagedFileError(path, f"{where}: harmonic {harmonic} oscillates: give the phase in degrees")
        rf_phase = float(np.asarray(attrs.get("RFphase", 0.0)).ravel()[0])
        # The field is the real part of Z exp[-2 pi i (f t + RFphase)], here at f t = phase / 360.
        turns = rf_phase + phase / 360.0
        rotation = complex(math.cos(2 * math.pi * turns), -math.sin(2 * math.pi * turns))
        if turns == 0.0:
            rotation = 1.0 + 0.0j
    anchor = _text(attrs.get("eleAnchorPt", b"")).strip()
    if anchor not in ANCHORS:
        raise DamagedFileError(path, f"{where}: eleAnchorPt {anchor!r} where beginning, center or end is expected")
    size = tuple(int(v) for v in np.asarray(attrs["gridSize"]).ravel()) if "gridSize" in attrs else None
    if size is None or len(size) != 3 or min(size) < 1:
        raise DamagedFileError(path, f"{where}: no gridSize of three positive counts")
    spacing = _vector(path, attrs, "gridSpacing", where=where)
    offset = _vector(path, attrs, "gridOriginOffset", where=where)
    lower = _vector(path, attrs, "gridLowerBound", default=(0, 0, 0), where=where)
    record = group[RECORDS[kind]]
    grid_unit = attrs.get("gridUnitSI", record.attrs.get("gridUnitSI", 1.0))
    grid_unit = np.broadcast_to(np.asarray(grid_unit, dtype=np.float64).ravel(), (3,)) if np.size(grid_unit) in (1, 3) else None
    if grid_unit is None:
        raise DamagedFileError(path, f"{where}: gridUnitSI holds neither one nor three values")
    metres = LENGTH_UNITS[length_unit]
    field_scale = float(np.asarray(attrs.get("fieldScale", 1.0)).ravel()[0])
    values: List[Optional[np.ndarray]] = []
    for name in COMPONENTS[geometry]:
        data, unit = _component(path, record, name, size, f"{where}{RECORDS[kind]}")
        if data is None:
            values.append(None)
            continue
        if np.iscomplexobj(data):
            if harmonic == 0 and np.any(data.imag != 0):
                warnings.append(f"{RECORDS[kind]}/{name}: a static field with an imaginary part; its real part is taken")
            data = data.real if rotation == 1.0 else (data * rotation).real
        elif rotation != 1.0:
            data = data * rotation.real
        # One correctly rounded division, none for a field already in the output's unit, which
        # is then taken bit for bit.
        divisor = FIELD_UNITS[field_unit][0] / (field_scale * unit)
        data = np.asarray(data, dtype=np.float64)
        values.append(data if divisor == 1.0 else data / divisor)
    # Lengths: metres (times gridUnitSI) to the output's unit, the anchor moved to the centre.
    to_output = grid_unit / metres
    step = spacing * to_output
    shift = {"beginning": -d_elm / 2, "center": 0.0, "end": d_elm / 2}[anchor]
    origin = offset * to_output + lower * step
    origin[2] += shift
    if geometry == "cylindrical":
        if offset[0] != 0.0 or offset[1] != 0.0:
            raise DamagedFileError(path, f"{where}: a cylindrical grid off the axis (gridOriginOffset x, y ="
                                       f" {offset[0]!r}, {offset[1]!r})")
        origin[0] = lower[0] * step[0]
    return _Mesh(where, geometry, kind, values, step, origin, size, warnings)


def _axis_positions(coordinates, origin, step, count):
    """Fractional mesh index of each coordinate, snapped onto nodes it meets to rounding, and
    whether it lies within the mesh."""
    if count == 1:
        # One plane: only the nodes on it (to rounding) are within the mesh.
        scale = abs(step) if step != 0 else max(abs(origin), 1.0)
        on = np.abs(coordinates - origin) <= ON_NODE * scale
        return np.where(on, 0.0, np.inf), on
    t = (coordinates - origin) / step
    nearest = np.rint(t)
    t = np.where(np.abs(t - nearest) <= ON_NODE, nearest, t)
    return t, (t >= 0) & (t <= count - 1)


def _sample_rectangular(m: _Mesh, grids):
    """The mesh's components at the KAVRO nodes; the mask of nodes outside."""
    cells, weights, inside, exact = [], [], [], []
    for g, origin, step, count in zip(grids, m.origin, m.spacing, m.shape):
        t, within = _axis_positions(g, origin, step, count)
        i = np.clip(np.floor(t), 0, max(count - 2, 0)).astype(np.int64)
        w = np.where(within, t - i, 0.0) if count > 1 else np.zeros_like(t)
        upper = np.minimum(i + 1, count - 1)
        nearest = np.clip(np.rint(t), 0, count - 1).astype(np.int64)
        cells.append((i, upper, nearest))
        weights.append(w)
        inside.append(within)
        exact.append(within & (t == nearest))
    shape = tuple(len(g) for g in grids)
    outside = ~(inside[0][:, None, None] & inside[1][None, :, None] & inside[2][None, None, :])
    on_node = exact[0][:, None, None] & exact[1][None, :, None] & exact[2][None, None, :]
    (x0, x1, xn), (y0, y1, yn), (z0, z1, zn) = cells
    wx, wy, wz = weights[0][:, None, None], weights[1][None, :, None], weights[2][None, None, :]
    cx = [(x0[:, None, None], 1 - wx), (x1[:, None, None], wx)]
    cy = [(y0[None, :, None], 1 - wy), (y1[None, :, None], wy)]
    cz = [(z0[None, None, :], 1 - wz), (z1[None, None, :], wz)]
    result = []
    for values in m.values:
        if values is None:
            result.append(np.zeros(shape))
            continue
        total = np.zeros(shape)
        with np.errstate(invalid="ignore"):
            for a, ua in cx:
                for b, ub in cy:
                    for c, uc in cz:
                        total += (ua * ub * uc) * values[a, b, c]
        # On a node the value is the mesh's own, also its sign of zero and a non-finite value.
        total[on_node] = np.broadcast_to(values[xn[:, None, None], yn[None, :, None], zn[None, None, :]], shape)[on_node]
        total[outside] = 0.0
        result.append(total)
    return result, outside


def _table_number(v: float) -> str:
    return repr(float(v))


def _solver_table(m: _Mesh, path) -> Tuple[str, str, List[str]]:
    """The axially symmetric mesh as a table in the solver's format: (table text, iflag_EH,
    warnings)."""
    nr, ntheta, nz = m.shape
    if nr > MAP_NODES[0] or nz > MAP_NODES[1]:
        raise DamagedFileError(path, f"{m.where}: {nr} x {nz} (r, z) nodes, where the converter's map holds at most"
                                   f" {MAP_NODES[0]} x {MAP_NODES[1]}")
    if nr < 2 or nz < 2:
        raise DamagedFileError(path, f"{m.where}: {nr} x {nz} (r, z) nodes: the converter needs two along each")
    planes = []
    for name, values in zip(COMPONENTS["cylindrical"], m.values):
        if values is None:
            planes.append(np.zeros((nr, nz)))
            continue
        peak = float(np.max(np.abs(values), initial=0.0))
        if ntheta > 1 and np.any(np.abs(values - values[:, :1, :]) > THETA_TOLERANCE * peak):
            raise DamagedFileError(path, f"{m.where}: {name} depends on theta; only an axially symmetric field"
                                       " can be converted")
        if name == "theta" and peak != 0.0:
            raise DamagedFileError(path, f"{m.where}: an azimuthal component, which an axially symmetric"
                                       " KAVRO conversion does not carry")
        if not np.all(np.isfinite(values)):
            raise DamagedFileError(path, f"{m.where}: {name} holds values that are not finite")
        planes.append(values[:, 0, :])
    rmin = m.origin[0]
    if rmin < 0:
        raise DamagedFileError(path, f"{m.where}: the radius starts at {rmin!r}, below the axis")
    rmax = rmin + (nr - 1) * m.spacing[0]
    dz = m.spacing[2]
    zmin, zmax = m.origin[2], m.origin[2] + (nz - 1) * dz
    # The converter centres every table on the element's centre. A mesh placed off centre by a
    # whole number of its z steps is centred by rows of zeros on its short side: beyond the mesh
    # the field is zero, as the converter takes it outside a map.
    warnings = []
    below = above = 0
    rows = (zmin + zmax) / dz
    if abs(rows) > ON_NODE:
        if abs(rows - round(rows)) > 1e-6:
            raise DamagedFileError(path, f"{m.where}: the mesh runs from z = {zmin!r} to {zmax!r} on the element, off"
                                       " its centre by no whole number of its z steps, and the converter centres"
                                       " every table")
        below, above = (int(round(rows)), 0) if rows > 0 else (0, int(round(-rows)))
        if nz + below + above > MAP_NODES[1]:
            raise DamagedFileError(path, f"{m.where}: centred on the element the mesh needs {nz + below + above} z"
                                       f" nodes, where the converter's map holds at most {MAP_NODES[1]}")
        warnings.append(f"the mesh runs from z = {zmin:.6g} to {zmax:.6g}: {below or above} rows of zeros added"
                        f" {'below' if below else 'above'} it to centre it on the element")
        planes = [np.pad(p, ((0, 0), (below, above))) for p in planes]
        zmin, nz = zmin - below * dz, nz + below + above
    zmax = zmin + (nz - 1) * dz
    half = (zmax - zmin) / 2
    lines = ["Table of an openPMD external field mesh, written by kavro-field import",
             f"{'  (Rmin,Zmin):':15}{_table_number(rmin)} , {_table_number(-half)}",
             f"{'  (Rmax,Zmax):':15}{_table_number(rmax)} , {_table_number(half)}",
             f"{' Number of intervals:':22}{nr - 1} {nz - 1}", "", "   R  Z  Fr  Fz", ""]
    radial, axial = planes[0], planes[2]
    r = [_table_number(rmin + i * m.spacing[0]) for i in range(nr)]
    for k in range(nz):
        z = _table_number(-half + k * dz)
        lines += [f"{r[i]} {z} {_table_number(radial[i, k])} {_table_number(axial[i, k])}" for i in range(nr)]
    return "\n".join(lines) + "\n", "0" if m.kind == "E" else "1", warnings


def find_converter(converter: Optional[str] = None) -> str:
    """The converter to run: `converter`, else P2K_CONVERTER, else the one installed beside the
    companion, else the one on PATH.

    Raises
    ------
    UnreadableInputError
        When there is none, or the one named is not an executable file.

    Examples
    --------
    >>> find_converter("/bin/true")
    '/bin/true'
    """
    chosen = converter or os.environ.get("P2K_CONVERTER")
    if chosen:
        if not os.access(chosen, os.X_OK) or os.path.isdir(chosen):
            raise UnreadableInputError(chosen, "is not an executable converter")
        return chosen
    package = os.path.dirname(os.path.abspath(__file__))
    # Installed: <prefix>/lib/python3/dist-packages/kavro_field beside <prefix>/bin.
    beside = os.path.join(package, os.pardir, os.pardir, os.pardir, os.pardir, "bin", CONVERTER_NAME)
    if os.access(beside, os.X_OK) and not os.path.isdir(beside):
        return os.path.normpath(beside)
    found = shutil.which(CONVERTER_NAME)
    if not found:
        raise UnreadableInputError(CONVERTER_NAME, "not found beside the companion nor on PATH (set P2K_CONVERTER)")
    return found


def _convert(table: str, flag: str, grid: Dict[str, Any], converter: str, mesh_path: str) -> bytes:
    """The converter's output for a table and the grid's control values, made in a temporary folder."""
    ksym = " ".join(str(v) for v in grid["ksym"])
    control = ["control written by kavro-field import", "", "table.txt", f"{flag}        iflag_EH", "0        kmirror_z",
               f"{grid['kfile_num']}        kfile_num", f"{grid['layout']}        kform_3D", f"{ksym}    ksym",
               f"{grid['d_elm']!r}    d_elm", f"{grid['aper']!r}    aper", "1.0    scale_E", "1.0    scale_B"]
    with tempfile.TemporaryDirectory(prefix="kavro-field-import.") as folder:
        with open(os.path.join(folder, "table.txt"), "w") as out:
            out.write(table)
        with open(os.path.join(folder, "poisson_to_kavro.dat"), "w") as out:
            out.write("\n".join(control) + "\n")
        try:
            run = subprocess.run([converter], cwd=folder, capture_output=True, text=True)
        except OSError as err:
            raise UnreadableInputError(converter, f"cannot be run: {err.strerror or err}") from None
        name = os.path.join(folder, output_name(int(grid["kfile_num"])))
        if run.returncode != 0 or run.stderr.strip() or not os.path.isfile(name):
            raise DamagedFileError(mesh_path, f"the converter {converter} did not convert the mesh's table: "
                                 + (run.stderr.strip().splitlines() or [f"exit status {run.returncode}"])[-1])
        with open(name, "rb") as made:
            return made.read()


def import_openpmd(path: Union[str, "os.PathLike[str]"], *, mesh: Optional[str] = None, kind: Optional[str] = None, phase: Optional[float] = None,
                   length_unit: Optional[str] = None, field_unit: Optional[str] = None,
                   d_elm: float, aper: float, ksym: Tuple[int, int, int] = (0, 0, 0), layout: int = 0, kfile_num: int = 1,
                   output_dir: str = ".", outside: str = "refuse", converter: Optional[str] = None) -> ImportResult:
    r"""Write a KAVRO field file from an openPMD external field mesh.

    Parameters
    ----------
    path : str or os.PathLike
        The openPMD file (HDF5).
    mesh : str, optional
        The mesh's name where `externalFieldPath` holds several (its `%T`).
    kind : str, optional
        "E" or "B" where the mesh holds both fields.
    phase : float, optional
        Degrees: the phase at which an oscillating field (harmonic != 0) is taken.
    length_unit, field_unit : str
        The output's units (`units.LENGTH_UNITS`, `units.FIELD_UNITS`); the file states none.
    d_elm, aper : float
        Element length and aperture in the output's length unit.
    ksym : three ints
        Symmetry flags: a flagged axis covers only its non-negative half.
    layout : int
        0, 1 or 2.
    kfile_num : int
        The output is named eh_EMS.# and this number in two digits.
    output_dir : str
    outside : str
        "refuse": a KAVRO node outside a rectangular mesh refuses the import; "zero": it gets
        zero and the result warns.
    converter : str, optional
        The converter for cylindrical meshes (else `find_converter`).

    Returns
    -------
    ImportResult

    Raises
    ------
    ImportError
        Where h5py is not installed.
    ValueError
        For missing or unknown output units, an unknown `outside` or `layout`.
    UnreadableInputError
        For a file that cannot be opened as HDF5, or a missing converter.
    DamagedFileError
        For a file that is not an external field mesh, or a mesh that cannot be converted (its
        geometry, theta dependence, a missing unitSI, a unit of the other field kind, an
        oscillating field without a phase, nodes outside), or one the converter refuses.
    UnwritableOutputError
        When the output cannot be written.

    Examples
    --------
    A uniform Bz of 0.5 T over a box of 4 x 4 x 40 cm, as a constant component:

    >>> import os, tempfile, h5py
    >>> scratch = tempfile.TemporaryDirectory()
    >>> folder = scratch.name
    >>> with h5py.File(os.path.join(folder, "box.h5"), "w") as h5:
    ...     h5.attrs["externalFieldPath"] = np.bytes_("/ExternalFieldMesh/")
    ...     mesh = h5.create_group("ExternalFieldMesh")
    ...     mesh.attrs.update(gridGeometry=np.bytes_("rectangular"), eleAnchorPt=np.bytes_("center"),
    ...                       harmonic=0, gridSize=[3, 3, 3], gridSpacing=[0.02, 0.02, 0.2],
    ...                       gridOriginOffset=[-0.02, -0.02, -0.2])
    ...     bz = mesh.create_group("magneticField/z")
    ...     bz.attrs.update(value=0.5, shape=[3, 3, 3], unitSI=1.0)
    >>> r = import_openpmd(os.path.join(folder, "box.h5"), length_unit="cm", field_unit="G",
    ...                    d_elm=30.0, aper=1.0, layout=2, output_dir=folder)
    >>> os.path.basename(r.path), r.kind, r.outside
    ('eh_EMS.#01', 'B', 0)
    >>> open(r.path).readlines()[5]
    '  0.000000000000000E+000  0.000000000000000E+000   5000.00000000000     \n'
    >>> scratch.cleanup()
    """
    try:
        import h5py
    except ImportError as err:
        raise ImportError(H5PY_MISSING) from err
    path = os.fspath(path)
    if length_unit is None or field_unit is None:
        raise ValueError("the output's units are needed (length_unit and field_unit): a KAVRO file states none")
    if length_unit not in LENGTH_UNITS or field_unit not in FIELD_UNITS:
        raise ValueError(f"unknown unit: length {length_unit!r}, field {field_unit!r}")
    if outside not in OUTSIDE_CHOICES:
        raise ValueError(f"outside {outside!r}: one of {', '.join(OUTSIDE_CHOICES)}")
    if layout not in (0, 1, 2):
        raise ValueError(f"layout {layout!r}: a field file has layout 0, 1 or 2")
    grid: Dict[str, Any] = {"kfile_num": int(kfile_num), "layout": int(layout), "ksym": tuple(int(v) for v in ksym),
            "d_elm": float(d_elm), "aper": float(aper)}
    try:
        h5 = h5py.File(path, "r")
    except OSError as err:
        raise UnreadableInputError(path, f"cannot be read as HDF5: {err}") from None
    with h5:
        m = _read_mesh(path, h5, mesh, kind, phase, length_unit, field_unit, float(d_elm))
    target = os.path.join(os.fspath(output_dir), output_name(int(kfile_num)))
    result = ImportResult(target, int(layout), m.kind, m.where, m.geometry, warnings=list(m.warnings))
    if m.geometry == "cylindrical":
        table, flag, warnings = _solver_table(m, path)
        result.warnings += warnings
        data = _convert(table, flag, grid, find_converter(converter), path)
    else:
        control = {"aper": grid["aper"], "d_elm": grid["d_elm"], "ksym_x": grid["ksym"][0],
                   "ksym_y": grid["ksym"][1], "ksym_z": grid["ksym"][2]}
        axes = output_grid(control)
        grids = [axes[a][1] for a in AXIS_NAMES]
        components, out = _sample_rectangular(m, grids)
        count = int(out.sum())
        if count:
            i, j, k = (int(v[0]) for v in np.nonzero(out))
            first = (float(grids[0][i]), float(grids[1][j]), float(grids[2][k]))
            if outside == "refuse":
                raise DamagedFileError(path, f"{count:,} of {np.prod(NODE_COUNTS):,} KAVRO nodes lie outside the mesh, the"
                                           f" first at (x, y, z) = ({first[0]!r}, {first[1]!r}, {first[2]!r});"
                                           " outside zero sets them to zero")
            result.outside, result.first_outside = count, first
            result.warnings.append(f"{count:,} KAVRO nodes outside the mesh set to zero, the first at {first}")
        arrays = dict(zip(("Fx", "Fy", "Fz"), components), ksym=grid["ksym"], d_elm=grid["d_elm"], aper=grid["aper"])
        data = field_file_bytes(arrays, int(layout), kind=m.kind)

    def write(temporary):
        with open(temporary, "wb") as out_file:
            out_file.write(data)
    write_atomically(target, write, inputs=[path])
    return result
