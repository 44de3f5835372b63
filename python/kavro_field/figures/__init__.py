"""Figures of a field file: the logbook figure (on-axis field, transverse profile, slices and the
table's map) built as a matplotlib Figure and saved (`plots`)."""
