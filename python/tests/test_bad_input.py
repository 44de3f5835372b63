"""Bad input: one line and status 2, never a traceback, a hang or runaway memory; failed writes; diff."""

import os
import re
import resource
import subprocess
import sys
import tempfile

import numpy as np
import pytest
from hypothesis import HealthCheck, event, given, settings, strategies as st

import kavro_field
import kavro_field.figures.plots
from kavro_field.cli import main
from kavro_field.inputs.textscan import INTEGER, NOT_A_NUMBER, REAL, WORD, TextScan

LAUNCHER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "kavro-field")
# KAVRO_FIELD_FUZZ_EXAMPLES=3000 for a long run, with check and plot (KAVRO_FIELD_FUZZ_COMMANDS to choose).
EXAMPLES = int(os.environ.get("KAVRO_FIELD_FUZZ_EXAMPLES", "25"))
COMMANDS = os.environ.get("KAVRO_FIELD_FUZZ_COMMANDS", "info,diff,export" + ",check,plot" * (EXAMPLES > 100)).split(",")
ODD = [b"\x0b", b"\x0c", b"\x00", b",", b"_", b"\t", b"\r", b"\n", b"\xa0", b"nan", b"-Infinity", b"1e400",
       b"1e300", b"2.5E+001", b"1_000.5", b"0x1p3", b"99999999999", b"-0"]


def run(argv, memory=768 << 20, env=None, fsize=resource.RLIM_INFINITY, stdout=None):
    """The launcher in a process of bounded memory, CPU time and file size (a hang guard, no timing)."""
    def bound():
        for limit, value in [(resource.RLIMIT_AS, memory), (resource.RLIMIT_CPU, 60), (resource.RLIMIT_FSIZE, fsize)]:
            resource.setrlimit(limit, (value, value))
    with open(stdout or os.devnull, "wb") as out:
        return subprocess.run([sys.executable, LAUNCHER, *argv], preexec_fn=bound, stderr=subprocess.PIPE, timeout=300,
                              stdout=out if stdout else subprocess.PIPE, env={**os.environ, **(env or {})})


@st.composite
def damage(draw, data):
    """`data` with one to three damages, most of them in the header, where the layouts differ."""
    where = st.one_of(st.integers(0, 1500), st.integers(0, len(data) - 1))
    for _ in range(draw(st.integers(1, 3))):
        # Changes that keep the size get past the size check into the readers: they come twice as often.
        how = draw(st.sampled_from(["byte", "byte", "put", "put", "swap", "swap", "cut", "remove", "repeat", "insert"]))
        at = min(draw(where), len(data))
        if how == "byte":
            data = data[:at] + bytes([draw(st.integers(0, 255))]) + data[at + 1:]
        elif how == "cut":
            data = data[:at]
        elif how in ("put", "insert"):
            text = draw(st.sampled_from(ODD))
            data = data[:at] + text + data[at + (len(text) if how == "put" else 0):]
        else:  # lines of the text layouts, records (or any stretch of bytes) of layout 0
            cut = sorted({at, min(draw(where), len(data)), min(at + draw(st.integers(1, 2000)), len(data))})
            pieces = [data[a:b] for a, b in zip([0, *cut], [*cut, len(data)])]
            if len(pieces) > 3:
                pieces[1], pieces[2] = {"remove": (b"", pieces[2]), "repeat": (pieces[1] * 2, pieces[2]),
                                        "swap": (pieces[2], pieces[1])}[how]
            data = b"".join(pieces)
    return data


@settings(max_examples=EXAMPLES, deadline=None, database=None, derandomize=EXAMPLES <= 100,
          suppress_health_check=list(HealthCheck))
@given(st.data())
def test_damaged_files_give_status_and_one_line_never_a_traceback(example_files, data):
    original = example_files[data.draw(st.sampled_from([0, 1, 2]))]
    with open(original, "rb") as stream:
        damaged = data.draw(damage(stream.read()))
    command = data.draw(st.sampled_from(COMMANDS))
    with tempfile.TemporaryDirectory() as folder:  # one at a time: thousands of 9 MB copies in a long run
        path = os.path.join(folder, "damaged")
        with open(path, "wb") as stream:
            stream.write(damaged)
        out = os.path.join(folder, "o.png" if command == "plot" else "o.npz")
        argv = {"diff": ["diff", path, original], "export": ["export", path, "--npz", out],
                "plot": ["plot", path, "-o", out]}.get(command, [command, path])
        result = run(argv)
        err = result.stderr.decode("utf-8", "replace")
        assert result.returncode in (0, 1, 2) and "Traceback" not in err and "Exception" not in err, err
        assert result.returncode != 2 or (err.startswith(f"kavro-field: {path}: ") and err.count("\n") == 1), err
        event(f"{command} {result.returncode} " + " ".join(re.sub(r"\d[\d,]*", "N", err[len(path) + 15:]).split()[:4]))
        assert not [name for name in os.listdir(folder) if name.endswith(".tmp")]


@pytest.mark.parametrize("make, argv, status, message, limits", [
    (os.mkfifo, ["info", "{path}"], 2, "{path}: is a FIFO (named pipe), not a file", {}),
    (os.mkdir, ["check", "{path}"], 2, "{path}: is a directory, not a file", {}),
    (None, ["info", "/dev/zero"], 2, "/dev/zero: is a character device, not a file", {"memory": 300 << 20}),
    (lambda p: open(p, "wb").truncate(1 << 30), ["diff", "{field}", "{path}"], 2,
     "{path}: 1,073,741,824 bytes, where a field file has 3,017,116", {}),
    (None, ["info", "{path}\udcff"], 2, "{path}\\xff: cannot be read: No such", {"env": {"PYTHONIOENCODING": "ascii"}}),
    (None, ["export", "{field}", "--npz", "{path}\udce9\udcff"], 0, "written: {path}\\xe9\\xff\n",
     {"env": {"PYTHONIOENCODING": "ascii"}}),
    (None, ["export", "{field}", "--npz", "/proc/out.npz"], 2, "/proc/out.npz: cannot be written: ", {}),
    *[(None, argv, 2, argv[argv.index("{field}") + 2] + ": cannot be written: File too large",
       {"fsize": fsize, "cache": cache})
      for argv, fsize in [(["export", "{field}", "--npz", "{old}"], 1 << 20),
                          (["export", "{field}", "--vtk", "{old}"], 1 << 20),
                          (["export", "{field}", "--openpmd", "{old}", "--length-unit", "cm", "--field-unit", "V/cm",
                            "--kind", "E"], 1 << 20),
                          (["plot", "{field}", "-o", "{old}.png"], 1 << 12),
                          (["plot", "{field}", "-o", "{old}.pdf"], 1 << 12),
                          (["plot", "{field}", "-o", "{old}.svg"], 1 << 12)]
      for cache in ("fresh", "read-only")],
    (None, ["export", "{field}", "--npz", "{field}"], 2, "{field}: is an input of this command", {}),
    (None, ["export", "{field}", "--npz", "/dev/null"], 2, "/dev/null: is not a regular file", {}),
    (None, ["info", "{field}"], 2, "standard output: No space left on device\n", {"stdout": "/dev/full"}),
    (None, ["--version"], 2, "standard output: No space left on device\n", {"stdout": "/dev/full"}),
    (None, ["plot", "{field}", "-o", "{old}.jpg"], 2, "-o {old}.jpg: the figure is written as .png, .pdf, .svg", {}),
], ids=["fifo", "directory", "dev zero", "sparse 1 GiB", "non-UTF-8 name", "non-ASCII name in ASCII", "unwritable",
        *[f"{what} ulimit -f, {cache} MPLCONFIGDIR" for what in ("npz", "vti", "openpmd", "png", "pdf", "svg")
          for cache in ("fresh", "read-only")],
        "own input", "device target", "full standard output", "full standard output, --version", "figure suffix"])
def test_special_inputs_and_targets(example_files, tmp_path, make, argv, status, message, limits):
    names = {"path": str(tmp_path / "input"), "field": example_files[0], "old": str(tmp_path / "old")}
    for old in ("old", "old.png", "old.pdf", "old.svg"):
        (tmp_path / old).write_bytes(b"the previous output")
    if make:
        make(names["path"])
    cache = limits.pop("cache", None)
    if cache:  # matplotlib's cache folder of this run: new and empty, or one that cannot be written in
        folder = tmp_path / "matplotlib"
        folder.mkdir(mode=0o555 if cache == "read-only" else 0o700)
        if cache == "read-only" and os.geteuid() == 0:  # the superuser writes in any folder, not below a file
            folder = tmp_path / "old" / "matplotlib"
        limits["env"] = {"MPLCONFIGDIR": str(folder)}
    result = run([a.format(**names) for a in argv], **limits)
    assert result.returncode == status
    said = (result.stderr or result.stdout).decode("ascii")
    assert said.startswith(("kavro-field: " if status else "") + message.format(**names))
    assert said.count("\n") <= 1 and ("standard output" in said) == (limits.get("stdout") == "/dev/full")
    for old in ("old", "old.png", "old.pdf", "old.svg"):
        assert (tmp_path / old).read_bytes() == b"the previous output"
    assert os.stat(example_files[0]).st_size == 3017116
    assert not [name for name in os.listdir(tmp_path) if name.endswith(".tmp")]
    if cache:
        assert os.listdir(tmp_path / "matplotlib") == []


def _edit(layout, line, old, new):
    """Text layout `layout` with `old` replaced by `new` (of the same width) on line `line`."""
    def edit(data):
        lines = data.split(b"\r\n")
        lines[line - 1] = lines[line - 1].replace(old, new.rjust(len(old)), 1)
        return b"\r\n".join(lines)
    return layout, edit


def _first(layout, line, new):
    """Text layout `layout` with the first value on line `line` replaced by `new`, in its width."""
    def edit(data):
        lines = data.split(b"\r\n")
        old = lines[line - 1].split()[0]
        lines[line - 1] = lines[line - 1].replace(old, new.rjust(len(old)), 1)
        return b"\r\n".join(lines)
    return layout, edit


def _binary(offset, value):
    return 0, lambda data: data[:offset] + np.array(value).tobytes() + data[offset + np.array(value).nbytes:]


def _edited(example_files, tmp_path, layout, edit):
    with open(example_files[layout], "rb") as stream:
        (tmp_path / "edited").write_bytes(edit(stream.read()))
    return str(tmp_path / "edited")


@pytest.mark.parametrize("layout, edit, problem", [
    (*_edit(2, 2, b"           0", b"1e300"), "line 2: '1e300' where the integer symmetry flag is expected"),
    (*_edit(1, 2, b"           0", b"3000000000"), "line 2: '3000000000' where the integer symmetry flag is"),
    (*_edit(2, 3, b"          25", b"2.5E+001"), "line 3: '2.5E+001' where the integer node count is expected"),
    (*_edit(2, 5, b"         201", b"200"), "line 5: node count 200 where 201 is expected"),
    (*_edit(2, 1, b"           0", b"2"), "line 1: field type 2 where 0 or 1 is expected"),
    (*_edit(2, 4, b"-1.00000000000000     ", b"NaN"), "line 4: the y limits nan and 1.0 are not finite"),
    (*_first(2, 5, b"-Infinity"), "line 5: the z limits -inf and"),
    (*_edit(1, 1, b"           0", b"7"), "line 1: k_s_EH 7 where 0 is expected"),
    (*_edit(1, 3, b"-1.00000000000000", b"-1.00\x0b0000000000"), r"line 3: '-1.00\x0b0000000000' is not a number"),
    (*_edit(1, 3, b"-1.00000000000000", b"-1_000.0000000000"), "line 3: '-1_000.0000000000' is not a number"),
    (*_binary(20, np.int32(5)), "byte 20: k_s_EH 5 where 0 is expected"),
    (*_binary(12, np.float64(np.inf)), "byte 52: the x limits -1.0 and inf are not finite"),
])
def test_header_values_are_checked_as_what_they_are(example_files, tmp_path, layout, edit, problem):
    with pytest.raises(kavro_field.FieldFileError, match=re.escape(problem)):
        kavro_field.load(_edited(example_files, tmp_path, layout, edit))


@pytest.mark.parametrize("layout, edit, line, itself", [
    (*_binary(4, np.float64(7.0)), "d_elm: {d_elm:.15g} against 7", 0),
    (*_binary(32, np.int32(1)), "ksym: 0 0 0 against 1 0 0", 0),
    (*_binary(52 + 8 * 3, np.float64(np.nan)), "grid x: the node coordinates differ at 1 of 25 nodes, first at", 1),
    (*_binary(2084 + 8 * 30, np.float64(np.nan)), "Fx: 1 node holds NaN or an infinity against another value or NaN,"
                                                  " first at node [5, 1, 0]", 1),
    (*_edit(2, 1, b"           0", b"1"), "field: E against B", 0),
    (*_first(2, 6, b"Infinity"), "Ex: 1 node holds NaN or an infinity", 0),
])
def test_diff_compares_headers_and_counts_nan(example_files, tmp_path, capsys, layout, edit, line, itself):
    path = _edited(example_files, tmp_path, layout, edit)
    line = line.format(d_elm=kavro_field.load(example_files[0]).d_elm)
    assert main(["diff", example_files[layout], path]) == 1
    assert line in capsys.readouterr().out
    # NaN differs from NaN too: a file against itself is unequal where it holds NaN, not where it holds inf.
    assert main(["diff", path, path]) == itself
    assert (line in capsys.readouterr().out) == bool(itself)


@pytest.mark.parametrize("failure, debug, start", [
    (RuntimeError("broken"), "", "kavro-field: internal error: RuntimeError: broken (rerun with KAVRO_FIELD_DEBUG=1"),
    (RuntimeError("broken"), "1", "Traceback (most recent call last):"),
    (MemoryError(), "", "kavro-field: out of memory: reading and checking a field file takes about"),
])
def test_an_unexpected_error_is_one_line_and_status_3(monkeypatch, capsys, failure, debug, start):
    def fail(path):
        raise failure
    monkeypatch.setattr(kavro_field.fieldfiles.layouts, "load", fail)
    monkeypatch.setenv("KAVRO_FIELD_DEBUG", debug)
    assert main(["info", "any"]) == 3
    err = capsys.readouterr().err
    assert err.startswith(start) and err.endswith(" for the traceback)\n" if "internal" in err else "\n")


@pytest.mark.parametrize("failure, start", [
    (OSError(27, "File too large"), "kavro-field: {cache}: matplotlib's cache folder: importing or drawing with"
                                    " matplotlib failed: File too large\n"),
    (OSError(28, "No space left on device", "/fonts/fontlist.json"), "kavro-field: /fonts/fontlist.json: matplotlib"
                                                                     " (cache folder {cache}) failed: No space left"),
    (OSError(5, "Input/output error"), "kavro-field: {cache}: matplotlib's cache folder: importing or drawing"),
], ids=["file-size limit", "full disk, file named", "I/O error"])
def test_a_failure_of_matplotlib_is_told_as_its_cache_folders_not_standard_outputs(
        example_files, tmp_path, monkeypatch, capsys, failure, start):
    def fail(*args, **kwargs):
        raise failure
    monkeypatch.setattr(kavro_field.figures.plots, "figure", fail)
    monkeypatch.setenv("MPLCONFIGDIR", str(tmp_path / "mpl"))
    assert main(["plot", example_files[0], "-o", str(tmp_path / "out.png")]) == 2
    captured = capsys.readouterr()
    assert captured.err.startswith(start.format(cache=tmp_path / "mpl")) and captured.out == ""
    assert not (tmp_path / "out.png").exists()


@pytest.mark.parametrize("value, told", [("-7e8", "--frequency -7e+08:"), ("-7E+08", "--frequency -7e+08:"),
                                         ("-.5", "--frequency -0.5:"), ("-inf", "--frequency -inf:"),
                                         ("-x", "argument --frequency: expected one argument")])
def test_a_negative_number_after_an_option_is_its_value(example_files, tmp_path, capsys, value, told):
    with pytest.raises(SystemExit) as stop:
        main(["export", example_files[0], "--npz", str(tmp_path / "o.npz"), "--frequency", value])
    assert stop.value.code == 2
    assert capsys.readouterr().err.startswith(f"kavro-field: {told}")
    assert not (tmp_path / "o.npz").exists()


GRAMMAR = [(INTEGER, rb"[+-]?\d+"), (REAL, rb"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?"),
           (WORD, rb"(?i)[+-]?(nan|inf|infinity)")]


@settings(max_examples=20 * EXAMPLES, deadline=None, database=None, derandomize=EXAMPLES <= 100)
@given(st.lists(st.lists(st.sampled_from(list(b"0123456789+-.eEnaNifINFty_x\x00\x0b\x0c")), min_size=1, max_size=12)
                .map(bytes), min_size=1, max_size=8), st.sampled_from([b" ", b"\t", b"\r\n", b"  \n"]))
def test_every_value_is_a_number_as_a_whole_or_refused(values, separator):
    scan = TextScan(separator.join(values))
    expected = [next((kind for kind, form in GRAMMAR if re.fullmatch(form, v)), NOT_A_NUMBER) for v in values]
    assert scan.kinds.tolist() == expected
    if NOT_A_NUMBER not in expected:
        assert np.array_equal(scan.numbers("f"), [float(v) for v in values], equal_nan=True)
    else:
        first = values[expected.index(NOT_A_NUMBER)].decode("latin-1")
        with pytest.raises(kavro_field.FieldFileError, match=re.escape(repr(first))):
            scan.numbers("f")
