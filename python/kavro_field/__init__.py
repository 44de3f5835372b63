"""Reading, checking, plotting, comparing and exporting the converter's field files.

The library entry points are `load` and `FieldFileError`; the command line is `kavro_field.cli`.
"""

from ._version import __version__
from .errors import FieldFileError
from .layouts import FieldFile, load

__all__ = ["FieldFile", "FieldFileError", "load", "__version__"]
