"""`summary` on the whole element, with the units of the table's header, and every number it
prints meaningful or absent."""

import json
import math
import os

import numpy as np
import pytest

import analytic
from kavro_field import load
from kavro_field.analysis.axis import summarise_axis
from kavro_field.cli import main
from kavro_field.errors import BadUsageError
from kavro_field.fieldfiles.layouts import FieldFile
from kavro_field.fieldfiles.writer import write_field_file


def _status(argv):
    """The exit status of a command, whether it returns it or a usage error exits with it."""
    try:
        return main(argv)
    except SystemExit as stop:
        return stop.code


def _on_axis(fz, kind, z=np.linspace(-10.0, 10.0, 201)):
    """A layout-2 file whose on-axis field is fz(z), the same at every x, y (no transverse field)."""
    xy = np.linspace(-1.0, 1.0, 25)
    axial = np.broadcast_to(fz(z), (25, 25, len(z))).copy()
    return FieldFile("made", 2, kind, xy, xy, z, (-1.0, 1.0), (-1.0, 1.0), (z[0], z[-1]), (0, 0, 0), None, None,
                     0.0 * axial, 0.0 * axial, axial)


def _gauss(z, centre=0.0, width=1.5):
    return np.exp(-((z - centre) / width) ** 2)


@pytest.fixture(scope="module")
def headed(tmp_path_factory):
    """The Gaussian solenoid's conversion, its table headed in mm and G (the converter reads
    numbers only, so the field file is the same whatever the labels say)."""
    folder = str(tmp_path_factory.mktemp("headed"))
    path = analytic.convert(folder, analytic.FIELDS["gaussian"])
    table = os.path.join(folder, "table.txt")
    with open(table) as source:
        text = source.read()
    with open(table, "w") as out:
        out.write(text.replace("   R  Z  Fr  Fz\n", "   R(mm)  Z(mm)  Br(G)  Bz(G)\n", 1))
    return path, folder


def test_units_come_from_the_header_and_give_the_same_numbers_as_the_options(headed, capsys):
    path, folder = headed
    assert main(["summary", path, "--control", folder, "--momentum", "1", "--json"]) == 0
    from_header = json.loads(capsys.readouterr().out)
    assert main(["summary", path, "--length-unit", "mm", "--field-unit", "G", "--momentum", "1", "--json"]) == 0
    from_options = json.loads(capsys.readouterr().out)
    units = from_header["units"]
    assert (units["length_unit"], units["field_unit"], units["kind"]) == ("mm", "G", "B")
    assert units["sources"]["length_unit"].startswith("table.txt line 6 ") and from_options["units"]["sources"]["field_unit"] == "--field-unit"
    axis = from_header["axis"]
    assert from_header["si"]["integral"] == pytest.approx(axis["integral"] * 1e-3 * 1e-4, rel=1e-14)
    for key in ("integral", "effective_length", "hard_edge_field"):
        assert from_header["si"][key] == from_options["si"][key]
    assert from_header["optics"]["focal_length_image"] == from_options["optics"]["focal_length_image"]


@pytest.mark.parametrize("command, options, status", [
    ("summary", ["--length-unit", "cm"], 2),
    ("summary", ["--field-unit", "T"], 2),
    ("summary", ["--field-unit", "V/m"], 2),
    ("summary", ["--length-unit", "mm", "--field-unit", "G"], 0),
    ("plot", ["--length-unit", "cm"], 2),
    ("export", ["--field-unit", "kG"], 2),
    ("export", ["--field-unit", "G", "--kind", "E"], 2),
])
def test_an_option_contradicting_the_header_is_refused(headed, tmp_path, command, options, status):
    path, folder = headed
    target = {"summary": [], "plot": ["-o", str(tmp_path / "f.png")], "export": ["--npz", str(tmp_path / "f.npz")]}
    assert _status([command, path, "--control", folder, *target[command], *options]) == status
    if status:
        assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("name, fz, kind, absent", [
    # Opposed coils, +1 T and -0.95 T: the integral is a small rest of two large halves.
    ("opposed coils", lambda z: _gauss(z, -3.0) - 0.95 * _gauss(z, 3.0), "B", {"effective_length", "hard_edge_field"}),
    # An einzel lens's Ez is odd in z: its integral is rounding, printed as 0, the voltage too.
    ("einzel", lambda z: z * _gauss(z), "E", {"effective_length", "hard_edge_field"}),
    ("one sign", lambda z: _gauss(z), "B", set()),
])
def test_numbers_of_a_field_that_changes_sign_are_absent(name, fz, kind, absent):
    unit = {"B": "T", "E": "V/m"}[kind]
    s = summarise_axis(_on_axis(fz, kind), "cm", unit)
    assert {key for key in ("effective_length", "hard_edge_field") if s["si"][key] is None} == absent
    assert s["axis"]["changes_sign"] == bool(absent)
    if name == "einzel":
        assert s["axis"]["odd"] and s["axis"]["integral"] == 0.0 and s["si"]["voltage"] == 0.0
    if name == "one sign":  # (w sqrt(pi))^2 / (w sqrt(pi / 2)) for exp(-(z / w)^2)
        assert s["si"]["effective_length"] == pytest.approx(math.sqrt(2 * math.pi) * 1.5e-2, rel=1e-9)


@pytest.mark.parametrize("options", [
    ["--length-unit", "cm", "--field-unit", "T", "--momentum", "0"],
    ["--length-unit", "cm", "--field-unit", "T", "--momentum", "nan"],
    ["--length-unit", "cm", "--field-unit", "T", "--momentum", "-1"],
    ["--length-unit", "cm", "--field-unit", "T", "--momentum", "inf"],
    ["--momentum", "1"],  # no units
    ["--length-unit", "cm", "--momentum", "1"],
    ["--length-unit", "cm", "--field-unit", "T", "--frequency", "1e9"],  # an RF amplitude is E
    ["--length-unit", "cm", "--field-unit", "T", "--particle", "proton"],  # no energy
    ["--length-unit", "cm", "--field-unit", "T", "--kinetic-energy", "1"],  # no mass to take it to a momentum
    ["--length-unit", "cm", "--field-unit", "T", "--kinetic-energy", "1", "--mass", "-3", "--charge", "1"],
    ["--length-unit", "cm", "--field-unit", "V/m", "--kind", "B"],  # a unit of E for a field of B
])
def test_options_out_of_range_or_without_what_they_need_exit_2(conversion, capsys, options):
    assert _status(["summary", conversion("gaussian"), *options]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "Traceback" not in err


def test_electric_optics_need_particle_and_energy():
    f = _on_axis(lambda z: z * _gauss(z), "E")
    with pytest.raises(BadUsageError):
        summarise_axis(f, "cm", "V/m", momentum=1.0)
    o = summarise_axis(f, "cm", "V/m", particle="electron", kinetic_energy=0.01)["optics"]
    assert o["particle"]["name"] == "electron" and o["kinetic_energy"] == 0.01 and o["final_kinetic_energy"] > 0


def test_json_is_strict_on_a_file_holding_nan(tmp_path, capsys):
    f = _on_axis(_gauss, "B")
    f.Fz[12, 12, 50] = np.nan
    f.Fx[3, 4, 5] = np.inf
    path = write_field_file(str(tmp_path / "nan.txt"), f, 2, kind="B")
    assert main(["summary", path, "--length-unit", "cm", "--field-unit", "T", "--momentum", "10", "--json"]) == 0
    captured = capsys.readouterr()
    s = json.loads(captured.out, parse_constant=lambda word: pytest.fail(f"{word} in strict JSON"))
    assert captured.err == ""
    assert any("not finite" in note for note in s["notes"])
    # The finite part: the Gaussian less the one node taken as 0.
    expected = 1.5 * math.sqrt(math.pi) * math.erf(10 / 1.5) - 0.1 * _gauss(-5.0) * 4 / 3
    assert s["axis"]["integral"] == pytest.approx(expected, rel=1e-6)
    assert s["transverse_max"]["value"] == 0.0


@pytest.mark.parametrize("name, ksym, options", [
    ("gaussian", (0, 0, 1), ["--field-unit", "T", "--momentum", "1"]),
    ("solenoid", (1, 1, 1), ["--field-unit", "T", "--momentum", "1"]),
    ("lens", (0, 0, 1), ["--field-unit", "V/cm", "--particle", "electron", "--kinetic-energy", "0.01"]),
    ("pillbox", (0, 0, 1), ["--field-unit", "V/m", "--frequency", "3e9"]),
])
def test_a_stored_half_is_summarised_as_the_whole_element(conversion, capsys, name, ksym, options):
    """Against the full-grid conversion of the same table: the half is sampled twice as finely,
    and the converter's approximation differs between the shared nodes by up to about 1e-4 of
    the peak (see test_unfold)."""
    summaries = []
    for path in (conversion(name), conversion(name, ksym=ksym)):
        assert main(["summary", path, "--length-unit", "cm", *options, "--json"]) == 0
        summaries.append(json.loads(capsys.readouterr().out))
    full, half = summaries
    assert half["element"] == "whole" and half["z_range"] == full["z_range"]
    scale = full["axis"]["integral_abs"]
    for key in ("integral", "integral_abs"):
        assert abs(half["axis"][key] - full["axis"][key]) <= 1e-4 * scale, key
    assert (half["axis"]["effective_length"] is None) == (full["axis"]["effective_length"] is None)
    if "optics" in full:
        for key in ("focal_length_image", "image_principal_plane_z"):
            assert half["optics"][key] == pytest.approx(full["optics"][key], rel=1e-3, abs=1e-5), key
    if "T" in full["si"]:
        for beta, value in full["si"]["T"].items():
            assert half["si"]["T"][beta] == pytest.approx(value, rel=1e-5, abs=1e-7), beta
