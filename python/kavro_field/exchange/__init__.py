"""A field file written for other tools, and one made from theirs: NumPy archives and VTK image
data (`exports`) and openPMD external field meshes (`openpmd`), each with its header, units and
provenance; a field file of the converter's made from any openPMD external field mesh
(`openpmd_import`)."""
