"""Outputs replace their target whole or not at all."""

import os
import resource
import subprocess
import sys

import pytest

from kavro_field.errors import FieldFileError
from kavro_field.atomic import write_atomically

OLD = b"the previous output\n"


def _fail_midway(temporary):
    with open(temporary, "wb") as out:
        out.write(b"half of it")
    raise OSError(28, "No space left on device")


@pytest.mark.parametrize("write, problem", [
    (_fail_midway, "cannot be written: No space left on device"),
    (lambda temporary: None, None),
])
def test_the_target_is_replaced_only_when_complete(tmp_path, write, problem):
    target = tmp_path / "out.bin"
    target.write_bytes(OLD)
    if problem:
        with pytest.raises(FieldFileError, match=problem):
            write_atomically(str(target), write)
        assert target.read_bytes() == OLD
    else:
        write_atomically(str(target), write)
        assert target.read_bytes() == b""
    assert os.listdir(tmp_path) == ["out.bin"]


def test_a_file_size_limit_leaves_the_old_file(tmp_path):
    # Root ignores permissions but not RLIMIT_FSIZE, so this is the failed write every user can make.
    target = tmp_path / "out.bin"
    target.write_bytes(OLD)
    script = ("import sys; from kavro_field.atomic import write_atomically\n"
              "write_atomically(sys.argv[1], lambda t: open(t, 'wb').write(b'x' * 100000))\n")

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
    run = subprocess.run([sys.executable, "-c", script, str(target)], preexec_fn=limit, capture_output=True,
                         text=True, env=dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(__file__))))
    assert run.returncode != 0 and "UnwritableOutputError" in run.stderr and "File too large" in run.stderr
    assert target.read_bytes() == OLD
    assert os.listdir(tmp_path) == ["out.bin"]


@pytest.mark.parametrize("case", ["own input", "folder", "missing folder"])
def test_refused_targets_are_left_alone(tmp_path, case):
    source = tmp_path / "field.dat"
    source.write_bytes(OLD)
    target = {"own input": str(tmp_path / "." / "field.dat"), "folder": str(tmp_path),
              "missing folder": str(tmp_path / "none" / "out")}[case]
    with pytest.raises(FieldFileError):
        write_atomically(target, lambda temporary: None, inputs=[str(source)])
    assert source.read_bytes() == OLD and os.listdir(tmp_path) == ["field.dat"]


def test_permissions_follow_an_existing_target(tmp_path):
    target = tmp_path / "out.bin"
    target.write_bytes(OLD)
    os.chmod(target, 0o640)
    write_atomically(str(target), lambda temporary: None)
    assert os.stat(target).st_mode & 0o777 == 0o640
