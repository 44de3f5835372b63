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
    for name, old, new in edits:
        path = os.path.join(folder, name)
        with open(path) as original:
            text = original.read()
        assert old in text
        with open(path, "w") as changed:
            changed.write(text.replace(old, new, 1))
    return subprocess.run([os.environ["P2K_CONVERTER"]], cwd=folder, capture_output=True).returncode


CONTROL, TABLE = "poisson_to_kavro.dat", "table.txt"
HEADINGS = (TABLE, "R  Z  Fr  Fz", "R(cm)  Z(cm)  Br(T)  Bz(T)")
# name: field, half, kmirror_z, control values, edits of the mistake, edits of the clean version,
# the code of lint's warning, the code of check --control's finding (None: no file to check).
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
                                        "fringe", "fringe"),
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
    field, half, kmirror_z, control, mistake, clean, lint_says, check_says = MISTAKES[name]
    field = analytic.FIELDS[field]
    for folder, edits, warned in ((tmp_path / "mistake", mistake, True), (tmp_path / "clean", clean, False)):
        converted = _inputs(str(folder), field, half, kmirror_z, edits, **control) == 0
        status, report = _lint_json(capsys, folder)
        codes = [w["code"] for w in report["warnings"]]
        assert (status, lint_says in codes) == ((1, True) if warned else (0, False)), codes
        if warned:
            warning = next(w for w in report["warnings"] if w["code"] == lint_says)
            assert warning["file"] and (warning["line"] or warning["code"].startswith("coverage."))
        if check_says is None:
            assert converted != warned
            continue
        status = main(["check", str(folder / "eh_EMS.#01"), "--control", str(folder), "--json"])
        codes = [f["code"] for f in json.loads(capsys.readouterr().out)["findings"]]
        assert (status, check_says in codes) == ((1, True) if warned else (0, False)), codes


def test_coarse_mesh_sampled_finely_has_only_its_fringe_finding(tmp_path, capsys):
    """A coarse table sampled by a fine grid: the approximation's own steps between table cells
    are no jumps; the element cuts its fringe field, which is the one finding."""
    coarse = dataclasses.replace(analytic.FIELDS["gaussian"], r_intervals=8, z_intervals=48)
    assert _inputs(str(tmp_path), coarse, d_elm=2.0) == 0
    status = main(["check", str(tmp_path / "eh_EMS.#01"), "--json"])
    findings = json.loads(capsys.readouterr().out)["findings"]
    assert status == 1 and [f["code"] for f in findings] == ["fringe"], findings
