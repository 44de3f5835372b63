"""What the companion tells about a field file or a conversion: `info` (layout, grid, ranges),
`axis` (the on-axis numbers of `summary`), `checks` (the file alone), `coverage` (the output grid
against the map it samples, the fringe field cut off), `crosscheck` (a file against its control
file and table), `lint` (a conversion before it runs) and `diff` (two files compared)."""
