"""The converter's field files: the output grid's geometry (node counts and coordinates, the axis
node, the element's ends; `grid`), the three layouts read into a `FieldFile` (`layouts`), the
access to its values between the nodes and along the axis (`fieldfile`), the whole element
unfolded from a stored half (`unfold`), and the three layouts written byte for byte as the
converter writes them (`writer`)."""
