"""The field as an external field mesh of the openPMD standard's beam-physics extension (HDF5).

One mesh group at the root's `externalFieldPath`: a rectangular grid in metres anchored at the
element's centre, the three components of `electricField` or `magneticField` as the file holds
them, each with the factor `unitSI` that turns it into V/m or T. The arrays keep the file's bits;
a reader following the extension multiplies by `unitSI` and gets the field in SI.

`unitDimension` is on the record, where the base standard puts it, and on each component too,
with `unitSI` and `unitSymbol` ("V/m" or "T", the unit of the value times `unitSI`): the readers
in common use open a component on its own and look for them there.
"""

import datetime
import io
from typing import TYPE_CHECKING, Optional

import numpy as np

from ..atomic import write_atomically
from ..units import FIELD_UNITS, LENGTH_UNITS, UNIT_DIMENSIONS, unit_problem

if TYPE_CHECKING:
    from ..fieldfiles.layouts import FieldFile

OPENPMD_VERSION = "1.1.0"
EXTERNAL_FIELD_PATH = "/ExternalFieldMesh/"
RECORD_NAMES = {"E": "electricField", "B": "magneticField"}
# The SI unit a component's value times its unitSI is in.
SI_SYMBOLS = {"E": "V/m", "B": "T"}
H5PY_MISSING = "the openPMD export needs the h5py package (Debian: apt-get install python3-h5py)"


def _text(value):
    """A fixed-length ASCII string, the form the standard asks for (h5py would write UTF-8)."""
    return np.bytes_(value.encode("ascii", "replace"))


def _grid(f, metres):
    """Spacing and first node of each axis in metres, from the limits as the converter made the
    nodes from them."""
    spacing = np.array(list(f.steps.values())) * metres
    origin = np.array([g[0] for g in f.grids]) * metres
    return spacing, origin


def openpmd_attributes(f, length_unit: str, field_unit: str, kind: Optional[str] = None,
                       frequency: Optional[float] = None, meta: Optional[dict] = None) -> dict:
    """The attributes of the openPMD file by HDF5 path: the root, the mesh group, the record and
    its components.

    Parameters
    ----------
    f : FieldFile
    length_unit : str
        The file's length unit, one of `units.LENGTH_UNITS`.
    field_unit : str
        The file's field unit, one of `units.FIELD_UNITS`; it must belong to the field's kind.
    kind : str, optional
        "E" or "B"; needed where the file does not say (layouts 0 and 1).
    frequency : float, optional
        For an RF amplitude, its frequency in Hz: the mesh is then harmonic 1 of it.
    meta : dict, optional
        `exports.metadata`, kept as attributes of the mesh group.

    Returns
    -------
    dict
        {path: {name: value}}.

    Raises
    ------
    ValueError
        For an unknown unit, an unknown field kind, or a field unit of the other kind.

    Examples
    --------
    >>> a = openpmd_attributes(kavro_field.load(field_path), "cm", "V/cm", "E")
    >>> z = a["/ExternalFieldMesh/electricField/z"]
    >>> z["unitSI"], z["unitSymbol"], z["unitDimension"].tolist()
    (100.0, b'V/m', [1.0, 1.0, -3.0, -1.0, 0.0, 0.0, 0.0])
    """
    if length_unit not in LENGTH_UNITS or field_unit not in FIELD_UNITS:
        raise ValueError(f"unknown unit: length {length_unit!r}, field {field_unit!r}")
    kind = f.kind or kind
    if kind not in RECORD_NAMES:
        raise ValueError(f"layout {f.layout} does not say whether the field is E or B: give the kind")
    problem = unit_problem(field_unit, kind)
    if problem:
        raise ValueError(problem)
    spacing, origin = _grid(f, LENGTH_UNITS[length_unit])
    record = EXTERNAL_FIELD_PATH + RECORD_NAMES[kind]
    labels = np.array([b"x", b"y", b"z"])
    now = datetime.datetime.now().astimezone()
    mesh = {"gridGeometry": _text("rectangular"), "axisLabels": labels,
            "gridSize": np.array(f.Fx.shape, dtype=np.int64), "gridSpacing": spacing,
            "gridLowerBound": np.zeros(3, dtype=np.int64), "gridOriginOffset": origin,
            "eleAnchorPt": _text("center"), "harmonic": np.int64(0 if frequency is None else 1),
            "fieldScale": 1.0, "name": _text(meta["source_file"] if meta else "field")}
    if frequency is not None:
        mesh.update(fundamentalFrequency=float(frequency), RFphase=0.0)
    for key, value in (meta or {}).items():
        mesh[key] = _text(value) if isinstance(value, str) else np.asarray(value)
    return {
        "/": {"openPMD": _text(OPENPMD_VERSION), "openPMDextension": _text("BeamPhysics;SpeciesType"),
              "basePath": _text("/data/%T/"), "iterationEncoding": _text("groupBased"),
              "iterationFormat": _text("/data/%T/"), "externalFieldPath": _text(EXTERNAL_FIELD_PATH),
              "fileType": _text("openPMD"), "software": _text("kavro-field"),
              "softwareVersion": _text(meta["companion_version"].split()[-1] if meta else ""),
              "date": _text(now.strftime("%Y-%m-%d %H:%M:%S %z"))},
        EXTERNAL_FIELD_PATH: mesh,
        # The record also carries what the base standard asks of every mesh record.
        record: {"unitDimension": np.array(UNIT_DIMENSIONS[kind]), "timeOffset": 0.0,
                 "geometry": _text("cartesian"), "axisLabels": labels, "gridSpacing": spacing,
                 "gridGlobalOffset": origin, "gridUnitSI": np.ones(3)},
        **{f"{record}/{axis}": {"unitSI": FIELD_UNITS[field_unit][0], "unitDimension": np.array(UNIT_DIMENSIONS[kind]),
                                "unitSymbol": _text(SI_SYMBOLS[kind]), "position": np.zeros(3)} for axis in "xyz"},
    }


def export_openpmd(f: "FieldFile", path: str, length_unit: str, field_unit: str, kind: Optional[str] = None,
                   frequency: Optional[float] = None) -> None:
    """Write the field as an openPMD external field mesh (HDF5).

    Parameters are those of `openpmd_attributes`. A static field is harmonic 0 with real
    components; with `frequency` the components are the complex amplitude (imaginary part 0) of
    harmonic 1.

    Raises
    ------
    ImportError
        Where h5py is not installed.
    ValueError
        For units that do not fit (see `openpmd_attributes`).

    Examples
    --------
    >>> export_openpmd(kavro_field.load(field_path), "lens.h5", "cm", "V/cm", "E")
    >>> import h5py; h5py.File("lens.h5")["ExternalFieldMesh/electricField/z"].shape
    (25, 25, 201)
    """
    try:
        import h5py  # type: ignore[import]
    except ImportError as err:
        raise ImportError(H5PY_MISSING) from err
    from .exports import metadata
    meta = metadata(f, length_unit, field_unit, kind, frequency)
    attributes = openpmd_attributes(f, length_unit, field_unit, kind, frequency, meta)
    dtype = np.float64 if frequency is None else np.complex128
    # HDF5 builds the file in memory: a full disk then fails a plain write of its bytes, which
    # the outputs module reports, instead of failing inside the library on close.
    image = io.BytesIO()
    with h5py.File(image, "w") as out:
        for group, attrs in attributes.items():
            axis = group.rsplit("/", 1)[-1]
            if axis in ("x", "y", "z"):
                node = out.create_dataset(group, data=np.asarray(getattr(f, "F" + axis), dtype=dtype))
            else:
                node = out.require_group(group)
            node.attrs.update(attrs)

    def write(temporary):
        with open(temporary, "wb") as file:
            file.write(image.getbuffer())
    write_atomically(path, write, inputs=[f.path])
