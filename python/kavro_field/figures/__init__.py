"""Figures of a field file: the logbook figure (on-axis field, transverse profile, slices and the
table's map) built as a matplotlib Figure and saved (`plots`), and the command line's choice of matplotlib's
cache folder, so that a run under a full or read-only home or a file-size limit still draws and
leaves the home as it was (`mplcache`)."""
