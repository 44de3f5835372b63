"""A field file written for other tools: NumPy archives and VTK image data (`exports`) and openPMD
external field meshes (`openpmd`), each with its header, units and provenance."""
