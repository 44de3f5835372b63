"""Reading, checking, plotting, comparing and exporting the converter's field files.

The public API:

- `load(path)` reads a field file of any layout into a `FieldFile`: its arrays and header, a
  one-line repr, `at(x, y, z)` (the field at any point, trilinear between the nodes),
  `on_axis()` (an `OnAxis` of z and the three components along x = y = 0) and `to_xarray()`.
- `read_inputs(control)` reads a conversion's control file and table by the converter's rules:
  the control values, the prepared map, `at(r, z)` (the converter's 3 x 3 approximation).
- `export_npz`, `export_vti` and `export_openpmd` write the field with its header, units and
  provenance; `figure` builds the logbook figure (a matplotlib Figure), `save_plot` writes it.
- `write_field_file(path, fieldfile_or_arrays, layout)` writes a field file byte for byte as the
  converter would for those arrays; `import_openpmd(path, ...)` writes one from an openPMD external
  field mesh (an `ImportResult` says what it wrote).
- `optics(file, length_unit=..., field_unit=..., particle=..., momentum=... | kinetic_energy=...)`
  gives an element's first-order (thick-lens) optics as an `Optics`; `FieldFile.unfold()` the
  whole element from a stored half, `FieldFile.on_axis_potential()` an electric field's V(z).
- `KavroFieldError` (also known as `FieldFileError`) is raised for an input that cannot be read
  (`UnreadableInputError`), a damaged or foreign file (`DamagedFileError`), an output that
  cannot be written (`UnwritableOutputError`) or a figure matplotlib failed to draw for a reason
  of the system, its cache folder or a limit (`DrawingError`); `BadUsageError` for options that
  contradict each other, the table's header or the file.

The command line is `kavro_field.cli` (`kavro-field`, `python3 -m kavro_field`).

Examples
--------
>>> import kavro_field
>>> f = kavro_field.load(field_path)
>>> f.at([0.0, 0.5], 0.0, 2.0)
array([[  0.        ,   5.00457657],
       [  0.        ,   0.        ],
       [235.616148  , 245.73839525]])
>>> z, fx, fy, fz = f.on_axis()
>>> f_r, f_z = kavro_field.read_inputs(example).at(0.5, 2.0)
>>> kavro_field.export_openpmd(f, "lens.h5", "cm", "V/cm", "E")
>>> r = kavro_field.import_openpmd("lens.h5", length_unit="cm", field_unit="V/cm", d_elm=f.d_elm,
...                                aper=f.aper, kfile_num=2)
>>> r.path, open(r.path, "rb").read() == open(field_path, "rb").read()
('./eh_EMS.#02', True)
>>> kavro_field.write_field_file("copy.#01", f, 0) == "copy.#01"
True
"""

from ._version import __version__
from .analysis.optics import Optics, optics
from .errors import (BadUsageError, DamagedFileError, DrawingError, FieldFileError, KavroFieldError,
                     UnreadableInputError, UnwritableOutputError)
from .exchange.exports import export_npz, export_vti
from .exchange.openpmd import export_openpmd
from .exchange.openpmd_import import ImportResult, import_openpmd
from .fieldfiles.fieldfile import OnAxis
from .fieldfiles.layouts import FieldFile, load
from .fieldfiles.writer import write_field_file
from .figures.plots import figure, save_plot
from .findings import Finding
from .inputs.prepared import Inputs
from .inputs.trace import read_inputs

__all__ = ["BadUsageError", "DamagedFileError", "DrawingError", "FieldFile", "FieldFileError", "Finding",
           "ImportResult", "Inputs", "KavroFieldError", "OnAxis", "Optics", "UnreadableInputError",
           "UnwritableOutputError", "export_npz", "export_openpmd", "export_vti", "figure", "import_openpmd", "load",
           "optics", "read_inputs", "save_plot", "write_field_file", "__version__"]
