"""Reading, checking, plotting, comparing and exporting the converter's field files.

The public API:

- `load(path)` reads a field file of any layout into a `FieldFile`: its arrays and header, a
  one-line repr, `at(x, y, z)` (the field at any point, trilinear between the nodes),
  `on_axis()` (an `OnAxis` of z and the three components along x = y = 0) and `to_xarray()`.
- `read_inputs(control)` reads a conversion's control file and table by the converter's rules:
  the control values, the prepared map, `at(r, z)` (the converter's 3 x 3 approximation).
- `export_npz`, `export_vti` and `export_openpmd` write the field with its header, units and
  provenance; `figure` builds the logbook figure (a matplotlib Figure), `save_plot` writes it.
- `KavroFieldError` (also known as `FieldFileError`) is raised for an input that cannot be read
  (`UnreadableInputError`), a damaged or foreign file (`DamagedFileError`), an output that
  cannot be written (`UnwritableOutputError`) or a figure matplotlib failed to draw for a reason
  of the system, its cache folder or a limit (`DrawingError`).

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
"""

from ._version import __version__
from .errors import (DamagedFileError, DrawingError, FieldFileError, KavroFieldError, UnreadableInputError,
                     UnwritableOutputError)
from .exchange.exports import export_npz, export_vti
from .exchange.openpmd import export_openpmd
from .fieldfiles.fieldfile import OnAxis
from .fieldfiles.layouts import FieldFile, load
from .figures.plots import figure, save_plot
from .findings import Finding
from .inputs.prepared import Inputs
from .inputs.trace import read_inputs

__all__ = ["DamagedFileError", "DrawingError", "FieldFile", "FieldFileError", "Finding", "Inputs", "KavroFieldError", "OnAxis",
           "UnreadableInputError", "UnwritableOutputError", "export_npz", "export_openpmd", "export_vti", "figure",
           "load", "read_inputs", "save_plot", "__version__"]
