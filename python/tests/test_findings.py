"""Findings as data: the text the commands print is the findings of --json rendered, oddities of
the table are counted by their code, and each error type names its cause."""

import json
import os

import pytest

import analytic
import kavro_field
from kavro_field.cli import main
from kavro_field.findings import Finding, render


def _both(capsys, argv):
    """The printed findings and the findings of --json for one command."""
    status = main(argv)
    text = capsys.readouterr().out.splitlines()
    assert main(argv + ["--json"]) == status
    return status, text, json.loads(capsys.readouterr().out)


def _finding(entry):
    fields = dict(entry, node=tuple(entry["node"]) if entry["node"] else None)
    return Finding(**fields)


@pytest.mark.parametrize("field, control, with_control", [
    ("lens", {"d_elm": 3.0}, False), ("lens", {"aper": 1.9}, True), ("gaussian", {"d_elm": 3.0}, True)])
def test_check_prints_its_json_findings(conversion, capsys, field, control, with_control):
    path = conversion(field, **control)
    options = ["--control", os.path.dirname(path)] if with_control else []
    status, text, data = _both(capsys, ["check", path, *options])
    findings = [_finding(entry) for entry in data["findings"]]
    assert status == 1 and findings
    printed = [line for line in text[:-1] if not line.startswith("note:")]
    assert printed == [render(f) for f in findings]


def _table_with_nulls(folder, rows):
    """The gaussian's table with a null first value (a leading comma) in `rows` of its rows."""
    os.makedirs(folder, exist_ok=True)
    analytic.write_table(os.path.join(folder, "table.txt"), analytic.FIELDS["gaussian"], 0)
    analytic.write_control(folder, analytic.FIELDS["gaussian"], 0)
    with open(os.path.join(folder, "table.txt")) as table:
        lines = table.read().split("\n")
    first = next(n for n, line in enumerate(lines) if len(line.split()) == 4 and n > 5)
    for n in range(first + 1, first + 1 + rows):
        lines[n] = "," + lines[n].lstrip()
    with open(os.path.join(folder, "table.txt"), "w") as table:
        table.write("\n".join(lines))


@pytest.mark.parametrize("rows", [1, 3, 4, 9])
def test_table_oddities_are_counted_by_code(tmp_path, capsys, rows):
    _table_with_nulls(str(tmp_path), rows)
    status, text, data = _both(capsys, ["lint", str(tmp_path)])
    codes = [w["code"] for w in data["warnings"]]
    shown = min(rows, 3)
    assert status == 1 and codes.count("oddity.null-value") == shown, codes
    more = [w for w in data["warnings"] if w["code"] == "oddity.null-value.more"]
    assert [w["data"]["count"] for w in more] == ([rows - 3] if rows > 3 else [])
    # The printed warnings are the same findings rendered, in the same order.
    assert [line for line in text if line.startswith("warning:")] == [
        render(_finding(w), inputs_tag="warning") for w in data["warnings"]]


def _junk(tmp_path):
    path = tmp_path / "junk.#01"
    path.write_bytes(b"25 25 201\n" * 10)
    return str(path)


@pytest.mark.parametrize("make, error, builtin", [
    (lambda tmp_path: str(tmp_path / "missing.#01"), kavro_field.UnreadableInputError, OSError),
    (lambda tmp_path: str(tmp_path), kavro_field.UnreadableInputError, OSError),
    (_junk, kavro_field.DamagedFileError, ValueError),
])
def test_a_reader_error_names_its_cause(tmp_path, make, error, builtin):
    with pytest.raises(error) as raised:
        kavro_field.load(make(tmp_path))
    assert isinstance(raised.value, builtin) and isinstance(raised.value, kavro_field.FieldFileError)


def test_an_output_error_is_its_own_cause(example_files, tmp_path):
    with pytest.raises(kavro_field.UnwritableOutputError) as raised:
        kavro_field.export_npz(kavro_field.load(example_files[0]), str(tmp_path))
    assert isinstance(raised.value, OSError) and not isinstance(raised.value, ValueError)


@pytest.mark.parametrize("edit, error", [
    (("table.txt", "missing.txt"), kavro_field.UnreadableInputError),
    (("0 iflag_EH", "5 iflag_EH"), kavro_field.DamagedFileError),
])
def test_inputs_the_converter_refuses_raise_by_cause(tmp_path, edit, error):
    analytic.write_table(str(tmp_path / "table.txt"), analytic.FIELDS["lens"], 0)
    analytic.write_control(str(tmp_path), analytic.FIELDS["lens"], 0)
    control = tmp_path / "poisson_to_kavro.dat"
    text = control.read_text()
    old, new = edit
    assert old in text
    control.write_text(text.replace(old, new, 1))
    with pytest.raises(error):
        kavro_field.read_inputs(str(tmp_path))
