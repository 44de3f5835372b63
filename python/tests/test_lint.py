"""`lint` against what the converter does: every conformance case as a table, and each common
mistake named by `lint` before the conversion and by `check --control` after it, while the clean
version of the same inputs passes both."""

import dataclasses
import json
import lzma
import os
import re
import shutil
import subprocess

import pytest

import analytic
from conftest import SOURCE_DIR
from kavro_field.cli import main

CASES = os.environ.get("P2K_CONFORMANCE_CASES", os.path.join(os.path.dirname(os.path.realpath(SOURCE_DIR)), "shared",
                                                              "conformance", "cases"))
REPORT = re.compile(r"runerr: severe \((\d+)\): .*, unit (-?\d+), file ")


def _prepare(case, run):
    """The case's working directory, as the conformance runner makes it."""
    source = os.path.join(case, "input")
    shutil.copytree(source, run) if os.path.isdir(source) else os.makedirs(run)
    with open(os.path.join(case, "case.json")) as meta_file:
        meta = json.load(meta_file)
    for rel in meta.get("packed_inputs", []):
        with open(os.path.join(run, rel + ".xz"), "rb") as packed:
            data = lzma.decompress(packed.read())
        os.remove(os.path.join(run, rel + ".xz"))
        with open(os.path.join(run, rel), "wb") as out:
            out.write(data)
    for folder in meta.get("make_dirs", []):
        os.makedirs(os.path.join(run, folder), exist_ok=True)
    for link, target in meta.get("symlinks", {}).items():
        os.symlink(target, os.path.join(run, link))
    for path, mode in meta.get("modes", {}).items():
        os.chmod(os.path.join(run, path), mode)
    return meta


def _converter_did(status, stderr):
    """(outcome, message, unit) of a run from its exit status and standard error."""
    if status == 0:
        return "ok", None, None
    report = REPORT.search(stderr)
    if report:
        return "failure", int(report.group(1)), int(report.group(2))
    return "stop", None, None


def _lint_json(capsys, folder):
    status = main(["lint", str(folder), "--json"])
    return status, json.loads(capsys.readouterr().out)


@pytest.mark.parametrize("name", sorted(os.listdir(CASES)) if os.path.isdir(CASES) else [])
def test_lint_predicts_each_conformance_case(tmp_path, capsys, name):
    case = os.path.join(CASES, name)
    run = tmp_path / "run"
    meta = _prepare(case, run)
    with open(os.path.join(case, "expected", "exit")) as exit_file:
        status = int(exit_file.read())
    with open(os.path.join(case, "expected", "stderr"), "rb") as stderr_file:
        expected = [(status, stderr_file.read().decode("latin-1"))]
    relax = meta.get("relax", {}).get("stderr", {})
    if relax.get("mode") == "alternatives":
        expected = [(option["exit"], option["stderr"]) for option in relax["options"]]
    status, report = _lint_json(capsys, run)
    got = report["converter"]
    text = "".join(line + "\r\n" for line in (got["text"] or "").split("\n") if got["text"])
    text = text.replace(os.path.realpath(run), "<CWD>")
    assert any((got["outcome"], got["message"], got["unit"]) == _converter_did(code, err) and text == err
               for code, err in expected), (got, expected)
    assert status == (2 if got["unit"] == 1 and got["outcome"] == "failure" else 1 if report["warnings"] else 0)


def _inputs(folder, field, half=0, kmirror_z=0, edits=(), **control):
    """Table and control file of `field` in `folder`, changed by `edits` ((file, old, new), ...),
    converted there; the converter's exit status."""
    os.makedirs(folder, exist_ok=True)
    analytic.write_table(os.path.join(folder, "table.txt"), field, half)
    analytic.write_control(folder, field, kmirror_z, **control)
    for edit in edits:
        if callable(edit):
            edit(folder)
            continue
        name, old, new = edit
        path = os.path.join(folder, name)
        with open(path) as original:
            text = original.read()
        assert old in text
        with open(path, "w") as changed:
            changed.write(text.replace(old, new, 1))
    return subprocess.run([os.environ["P2K_CONVERTER"]], cwd=folder, capture_output=True).returncode


CONTROL, TABLE = "poisson_to_kavro.dat", "table.txt"
HEADINGS = (TABLE, "R  Z  Fr  Fz", "R(cm)  Z(cm)  Br(T)  Bz(T)")
GAUSS, LENS, SOLENOID = (analytic.FIELDS[name] for name in ("gaussian", "lens", "solenoid"))
SHORT_GAUSS = dataclasses.replace(GAUSS, half_length=1.3, z_intervals=52)
COARSE_LENS = dataclasses.replace(LENS, r_intervals=3, z_intervals=12)
SHIFTED_SOLENOID = dataclasses.replace(SOLENOID, components=lambda r, z: SOLENOID.components(r, z - 0.3))


def rows_z_fastest(folder):
    """The table's rows rewritten with z varying fastest, the header as it was."""
    path = os.path.join(folder, TABLE)
    lines = open(path).read().splitlines()
    nr, nz = (int(n) + 1 for n in lines[3].split()[-2:])
    head, rows = lines[:7], lines[7:7 + nr * nz]
    with open(path, "w") as out:
        out.write("\n".join(head + [rows[iz * nr + ir] for ir in range(nr) for iz in range(nz)]) + "\n")


# name: field (a name, or the fields of the mistake and of its clean version), half, kmirror_z,
# control values, edits of the mistake, edits of the clean version, the code of lint's warning,
# the code of check --control's finding (None: the converter refuses the mistake; "": no file
# of it to check).
MISTAKES = {
    "half table on the wrong side": ("gaussian", -1, 2, {}, [], [(CONTROL, "2 kmirror_z", "-2 kmirror_z")],
                                     "mirror.side", "mirror.side"),
    "comma in the scale": ("lens", 0, 0, {}, [(CONTROL, "1000.0\n", "1,5\n")], [(CONTROL, "1000.0\n", "1.5\n")],
                           "oddity.comma-in-number", "oddity.comma-in-number"),
    "z intervals off by one": ("lens", 0, 0, {}, [(TABLE, "24  96", "24  95")], [],
                               "table.z-count", "table.z-count"),
    "r intervals off by one": ("lens", 0, 0, {}, [(TABLE, "24  96", "23  96")], [],
                               "table.r-count", "table.r-count"),
    "element shorter than its fringe": ("gaussian", 0, 0, {"d_elm": 3.0}, [], [(CONTROL, "3.0\n", "10.0\n")],
                                        "fringe.element-end", "fringe.element-end"),
    "element end inside the table's last step": ("lens", 0, 0, {"d_elm": 7.6}, [], [(CONTROL, "7.6\n", "8.0\n")],
                                                 "fringe.element-end", "fringe.element-end"),
    "table stopping where its field is strong": ((SHORT_GAUSS, GAUSS), 0, 0, {"d_elm": 2.6}, [],
                                                 [(CONTROL, "2.6\n", "10.0\n")],
                                                 "fringe.table-end", "fringe.table-end"),
    "mesh too coarse for the approximation": ((COARSE_LENS, LENS), 0, 0, {}, [], [], "mesh.coarse", "mesh.coarse"),
    "rows written z fastest": ("lens", 0, 0, {}, [rows_z_fastest], [], "table.z-fastest", "table.z-fastest"),
    "half table off its symmetry plane": ((SHIFTED_SOLENOID, SOLENOID), 1, 2, {"d_elm": 11.6}, [],
                                          [(CONTROL, "11.6\n", "12.0\n")],
                                          "mirror.plane-offset", "mirror.plane-offset"),
    "half table of the wrong parity": ("solenoid", 1, 1, {}, [], [(CONTROL, "1 kmirror_z", "2 kmirror_z")],
                                       "mirror.parity", "mirror.parity"),
    "control file missing its second line": ("lens", 0, 0, {}, [(CONTROL, "tests\n\n", "tests\n")], [],
                                             "control.line-missing", None),
    "control file with a line too many": ("lens", 0, 0, {}, [(CONTROL, "tests\n", "tests\nsecond title\n")], [],
                                          "control.line-extra", None),
    "kfile_num beyond two digits": ("lens", 0, 0, {}, [(CONTROL, "1 kfile_num", "100 kfile_num")], [],
                                    "control.kfile-num", ""),
    "scale_E given for a magnetic table": ("solenoid", 0, 0, {}, [(CONTROL, "1.0\n0.0001", "1.5\n0.0001")], [],
                                           "control.scale-other-kind", ""),
    "magnetic table read as E": ("gaussian", 0, 0, {}, [HEADINGS, (CONTROL, "1 iflag_EH", "0 iflag_EH")], [HEADINGS],
                                 "kind.units", "kind.units"),
    "negative aperture": ("lens", 0, 0, {"aper": -1.0}, [], [(CONTROL, "-1.0\n", "1.0\n")],
                          "control.aper", "grid.backwards"),
    "scale overflowing to Inf": ("lens", 0, 0, {}, [(CONTROL, "1000.0\n", "1e308\n")], [],
                                 "finite.map", "finite.field"),
    "null mirror mode": ("gaussian", 1, 2, {}, [(CONTROL, "2 kmirror_z", ",2 kmirror_z")], [],
                         "oddity.null-value", "oddity.null-value"),
    "null symmetry flags": ("lens", 0, 0, {}, [(CONTROL, "0 0 0\n", "2* 1\n")], [],
                            "oddity.repeat-null", "oddity.repeat-null"),
    "tab after the table's name": ("lens", 0, 0, {}, [(CONTROL, "table.txt\n", "table.txt\t\n")], [],
                                   "oddity.control-character", None),
}


@pytest.mark.parametrize("name", MISTAKES)
def test_each_mistake_is_named_and_its_clean_version_passes(tmp_path, capsys, name):
    fields, half, kmirror_z, control, mistake, clean, lint_says, check_says = MISTAKES[name]
    fields = (analytic.FIELDS[fields],) * 2 if isinstance(fields, str) else fields
    for folder, field, edits, warned in ((tmp_path / "mistake", fields[0], mistake, True),
                                         (tmp_path / "clean", fields[1], clean, False)):
        converted = _inputs(str(folder), field, half, kmirror_z, edits, **control) == 0
        status, report = _lint_json(capsys, folder)
        codes = [w["code"] for w in report["warnings"]]
        # A control file that cannot be read through is exit 2, its warnings all the same.
        assert (status > 0, lint_says in codes) == (warned, warned), codes
        if warned:
            warning = next(w for w in report["warnings"] if w["code"] == lint_says)
            assert warning["file"] and (warning["line"] or warning["code"].startswith("coverage."))
        if check_says is None:
            assert converted != warned
            continue
        if check_says == "" and warned:
            continue
        status = main(["check", str(folder / "eh_EMS.#01"), "--control", str(folder), "--json"])
        codes = [f["code"] for f in json.loads(capsys.readouterr().out)["findings"]]
        assert (status, check_says in codes) == ((1, True) if warned else (0, False)), codes


def test_coarse_mesh_sampled_finely_has_only_its_fringe_finding(tmp_path, capsys):
    """A coarse table sampled by a fine grid: the approximation's own steps between table cells
    are no jumps; the element cuts its fringe field at both ends, which is the one finding."""
    coarse = dataclasses.replace(GAUSS, r_intervals=8, z_intervals=48)
    assert _inputs(str(tmp_path), coarse, d_elm=2.0) == 0
    status = main(["check", str(tmp_path / "eh_EMS.#01"), "--json"])
    findings = json.loads(capsys.readouterr().out)["findings"]
    assert status == 1 and [f["code"] for f in findings] == ["fringe.beyond-end"] * 2, findings


def test_coarse_mesh_is_the_same_number_before_and_after(tmp_path, capsys):
    assert _inputs(str(tmp_path), COARSE_LENS) == 0
    _, report = _lint_json(capsys, tmp_path)
    main(["check", str(tmp_path / "eh_EMS.#01"), "--control", str(tmp_path), "--json"])
    found = json.loads(capsys.readouterr().out)["findings"]
    before, after = ([f for f in found if f["code"] == "mesh.coarse"] for found in (report["warnings"], found))
    assert len(before) == 1 and before[0]["value"] == after[0]["value"] > 0.01 and before[0]["line"] == 4
    assert before[0]["data"]["finer"][1] > COARSE_LENS.z_intervals


@pytest.mark.parametrize("what", ["control file", "table"])
def test_field_file_given_as_an_input_is_named_and_refused(tmp_path, capsys, what):
    assert _inputs(str(tmp_path), LENS) == 0
    target = os.path.join(tmp_path, CONTROL if what == "control file" else TABLE)
    shutil.copy(os.path.join(tmp_path, "eh_EMS.#01"), target)
    status = main(["lint", str(tmp_path)])
    err = capsys.readouterr().err
    assert status == 2 and err.count("\n") == 1 and f"layout 0, not a {what}" in err, err
