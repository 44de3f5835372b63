"""What the companion tells about a field file or a conversion: `info` (layout, grid, ranges),
`axis` (the on-axis numbers of `summary`), `optics` (the element's first-order thick-lens
optics, for the particles of `particles`), `checks` (the file alone), `coverage` (the output grid
against the map it samples), `ends` (where the field is cut, meets a wall, or a mirrored element's
halves meet), `mesh` (the table's mesh against the 3 x 3 approximation), `shape` (the inputs'
shape: control lines, row order, a half table's symmetry plane, values out of range),
`crosscheck` (a file against its control file and table), `lint` (a conversion before it runs)
and `diff` (two files compared)."""
