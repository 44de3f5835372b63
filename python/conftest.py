"""What the docstring examples of the package run on: the bundled example (examples/lens) and
its conversion by the built converter (P2K_CONVERTER), in a temporary folder that is each
example's working directory, so that what an example writes stays there."""

import os
import shutil
import subprocess

import numpy as np
import pytest
from _pytest.doctest import DoctestItem

import kavro_field

SOURCE_DIR = os.environ.get("P2K_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


@pytest.fixture(scope="session")
def _converted_example(tmp_path_factory):
    """A folder holding examples/lens with its conversion eh_EMS.#01 (layout 0)."""
    converter = os.environ.get("P2K_CONVERTER")
    if not converter or not os.access(converter, os.X_OK):
        pytest.exit("P2K_CONVERTER must name the built converter (ctest sets it)", returncode=2)
    root = tmp_path_factory.mktemp("doctest_example")
    example = root / "examples" / "lens"
    shutil.copytree(os.path.join(SOURCE_DIR, "examples", "lens"), example)
    subprocess.run([converter], cwd=example, check=True, capture_output=True)
    return root


@pytest.fixture(autouse=True)
def _doctest_folder(request, tmp_path, monkeypatch):
    """For a docstring example: a fresh working directory that sees examples/lens, the names
    `example` (its folder) and `field_path` (its conversion), and a home of its own."""
    if not isinstance(request.node, DoctestItem):
        yield
        return
    root = request.getfixturevalue("_converted_example")
    (tmp_path / "examples").symlink_to(root / "examples", target_is_directory=True)
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("HOME", str(tmp_path))
    monkeypatch.setenv("MPLCONFIGDIR", str(tmp_path / ".matplotlib"))
    namespace = request.getfixturevalue("doctest_namespace")
    namespace.update(example="examples/lens", field_path="examples/lens/eh_EMS.#01", kavro_field=kavro_field, np=np,
                     load=kavro_field.load, read_inputs=kavro_field.read_inputs)
    yield
