"""The companion's field-file writer against the converter's own files, byte for byte."""

import lzma
import os

import numpy as np
import pytest

import analytic
from kavro_field import load
from kavro_field.fieldfiles.writer import field_file_bytes, real_field, write_field_file

CASES = "/work/shared/conformance/cases"


@pytest.mark.parametrize("layout", [0, 1, 2])
def test_example_written_again_is_the_converters_file(example_files, layout, tmp_path):
    # From the binary file, which holds the exact doubles, every layout must come out as the
    # converter wrote it from the same arrays.
    source = load(example_files[0])
    out = write_field_file(str(tmp_path / "eh_EMS.#01"), source, layout, kind="E")
    with open(out, "rb") as mine, open(example_files[layout], "rb") as theirs:
        assert mine.read() == theirs.read()


# Fields the converter's own list-output tests state: the ends of the fixed form, the carries into
# a new leading digit, ties of the binary value, the extremes of the exponent form.
STATED_FIELDS = [
    (0.0, "  0.000000000000000E+000"), (-0.0, "  0.000000000000000E+000"),
    (1.0, "   1.00000000000000     "), (0.1, "  0.100000000000000     "),
    (0.09, "  9.000000000000000E-002"), (1.0e-5, "  1.000000000000000E-005"),
    (123456789012345.0, "   123456789012345.     "), (1.0e15, "  1.000000000000000E+015"),
    (2.0 / 3.0, "  0.666666666666667     "), (-10.0, "  -10.0000000000000     "),
    (-0.025, " -2.500000000000000E-002"), (-0.5, " -0.500000000000000     "),
    (-123456789012345.0, "  -123456789012345.     "), (0.09999999999999999, "  0.100000000000000     "),
    (999999999999999.9, "  9.999999999999999E+014"), (9.9999999999999995, "   10.0000000000000     "),
    (1.7976931348623157e308, "  1.797693134862316E+308"), (-4.9406564584124654e-324, " -4.940656458412465E-324"),
    (1e100, "  1.000000000000000E+100"), (1e-100, "  1.000000000000000E-100"),
    (float("nan"), "                     NaN"), (float("inf"), "                Infinity"),
    (float("-inf"), "               -Infinity"), (0.3, "  0.300000000000000     "),
    (2.0 ** -20, "  9.536743164062500E-007"), (1.0 + 2.0 ** -52, "   1.00000000000000     "),
    (1.0000000000000005, "   1.00000000000000     "), (2.0 ** -24, "  5.960464477539062E-008"),
    (2.0 ** -23, "  1.192092895507812E-007"), (3 * 2.0 ** -23, "  3.576278686523438E-007"),
]


@pytest.mark.parametrize("value, field", STATED_FIELDS)
def test_real_field_as_the_converters_tests_state_it(value, field):
    assert real_field(value) == field


# Header values that are hard to round, given to the converter as aper and d_elm: it writes them,
# the limits and the nodes made from them (among them overflows, subnormals and grids that run
# backwards) in its layout 1, which must equal the layout-1 text of its own layout-0 arrays.
HARD_HEADERS = [
    (0.09999999999999999, 999999999999999.9), (9.9999999999999995, 0.09),
    (1.0000000000000005, 2.0 / 3.0), (3 * 2.0 ** -23, 123456789012345.0),
    (1e-100, 1.7976931348623157e308), (-4.9406564584124654e-324, 1e15), (-0.025, -10.0),
]


@pytest.mark.parametrize("aper, d_elm", HARD_HEADERS)
def test_hard_headers_against_the_converters_text(tmp_path, aper, d_elm):
    field = analytic.FIELDS["pillbox"]
    binary = load(analytic.convert(str(tmp_path / "zero"), field, kform_3D=0, aper=aper, d_elm=d_elm))
    text = analytic.convert(str(tmp_path / "one"), field, kform_3D=1, aper=aper, d_elm=d_elm)
    with open(text, "rb") as theirs:
        assert field_file_bytes(binary, 1) == theirs.read()


# Conformance outputs: non-finite fields, lengths at the limits, negative zeros and lengths, the
# three layouts.
CONFORMANCE = ["case_0001", "case_0008", "case_0017", "case_0021", "case_0063", "case_0082", "case_0086"]


@pytest.mark.parametrize("case", CONFORMANCE)
def test_conformance_outputs_written_again(case, tmp_path):
    folder = os.path.join(CASES, case, "expected", "files")
    if not os.path.isdir(folder):
        pytest.skip("the conformance cases are not on this machine")
    (name,) = [n for n in os.listdir(folder) if n.startswith("eh_EMS")]
    with open(os.path.join(folder, name), "rb") as packed:
        data = lzma.decompress(packed.read())
    copy = tmp_path / "eh_EMS.#01"
    copy.write_bytes(data)
    f = load(str(copy))
    assert field_file_bytes(f, f.layout) == data


def test_layout_2_arrays_give_the_binary_header_exactly():
    # A layout-2 file holds the limits only: aper and d_elm follow from them exactly, and so do
    # the converter's nodes.
    rng = np.random.default_rng(3)
    arrays = {name: rng.normal(size=(25, 25, 201)) for name in ("Fx", "Fy", "Fz")}
    arrays.update(ksym=(0, 1, 1), xmws=(-0.3, 0.3), ymws=(0.0, 0.3), zmws=(0.0, 0.1 / 2), kind="B")
    data = field_file_bytes(arrays, 0)
    header = np.frombuffer(data, "<f8", count=2, offset=4)
    assert header.tolist() == [0.1, 0.3]
    z = np.frombuffer(data, "<f8", count=201, offset=468)
    assert z[0] == 0.0 and z[100] == 0.025


@pytest.mark.parametrize("arrays, layout, message", [
    ({"Fx": np.zeros((25, 25, 201)), "Fy": np.zeros((25, 25, 201)), "Fz": np.zeros((25, 25, 201)),
      "ksym": (0, 0, 0), "d_elm": 1.0, "aper": 1.0}, 2, "kind"),
    ({"Fx": np.zeros((25, 25, 200)), "Fy": np.zeros((25, 25, 201)), "Fz": np.zeros((25, 25, 201)),
      "ksym": (0, 0, 0), "d_elm": 1.0, "aper": 1.0}, 0, "shape"),
    ({"Fx": np.zeros((25, 25, 201)), "Fy": np.zeros((25, 25, 201)), "Fz": np.zeros((25, 25, 201)),
      "ksym": (0, 0, 0)}, 1, "d_elm"),
    ({}, 3, "layout"),
])
def test_refused_content(arrays, layout, message):
    with pytest.raises(ValueError, match=message):
        field_file_bytes(arrays, layout)
