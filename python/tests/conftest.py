"""Shared fixtures: conversions of analytic tables and of the bundled example by the built
converter (P2K_CONVERTER), made once per session in temporary folders.

The session never reads or writes the user's home: before any test module is imported (and so
before matplotlib is), HOME, the XDG folders and MPLCONFIGDIR point into one temporary folder,
which every subprocess inherits and which is removed when the session ends. A test that needs a
warm matplotlib cache therefore fails here, as it would on a new machine. The user's own matplotlib
cache folder is only looked at, at the start and the end: a session that changed it fails."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

import pytest

_PRIVATE_ROOT = tempfile.mkdtemp(prefix="kavro-field-tests-")
PRIVATE_ENVIRONMENT = {
    "HOME": os.path.join(_PRIVATE_ROOT, "home"),
    "XDG_CONFIG_HOME": os.path.join(_PRIVATE_ROOT, "home", ".config"),
    "XDG_CACHE_HOME": os.path.join(_PRIVATE_ROOT, "home", ".cache"),
    "XDG_DATA_HOME": os.path.join(_PRIVATE_ROOT, "home", ".local", "share"),
    "XDG_STATE_HOME": os.path.join(_PRIVATE_ROOT, "home", ".local", "state"),
    "XDG_RUNTIME_DIR": os.path.join(_PRIVATE_ROOT, "runtime"),
    "MPLCONFIGDIR": os.path.join(_PRIVATE_ROOT, "matplotlib"),
}
_USER_ENVIRONMENT = {name: os.environ.get(name) for name in PRIVATE_ENVIRONMENT}
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from kavro_field.figures import mplcache  # noqa: E402  (it does not import matplotlib)


def _folder_state(folder):
    """{name: (size, sha256)} of the files in `folder`, None where it is not a folder one can read."""
    try:
        names = sorted(os.listdir(folder))
    except OSError:
        return None
    state = {}
    for name in names:
        try:
            with open(os.path.join(folder, name), "rb") as held:
                data = held.read()
        except OSError:
            continue
        state[name] = (len(data), hashlib.sha256(data).hexdigest())
    return state


# The user's own matplotlib cache, compared when the session ends: the tests must leave it as it was.
_USER_CACHE = mplcache.cache_folder(os.environ)
_USER_CACHE_BEFORE = _folder_state(_USER_CACHE)
for _folder in PRIVATE_ENVIRONMENT.values():
    os.makedirs(_folder, mode=0o700)
os.environ.update(PRIVATE_ENVIRONMENT)

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
sys.path.insert(0, HERE)

import analytic  # noqa: E402

SOURCE_DIR = os.environ.get("P2K_SOURCE_DIR", os.path.dirname(os.path.dirname(HERE)))


def pytest_sessionfinish(session, exitstatus):
    after = _folder_state(_USER_CACHE)
    if after != _USER_CACHE_BEFORE:
        sys.stderr.write(f"\nthe test session changed the user's matplotlib cache {_USER_CACHE}:"
                         f" {_USER_CACHE_BEFORE} before, {after} after\n")
        session.exitstatus = 1


def pytest_unconfigure(config):
    for name, value in _USER_ENVIRONMENT.items():
        if value is None:
            os.environ.pop(name, None)
        else:
            os.environ[name] = value
    shutil.rmtree(_PRIVATE_ROOT, ignore_errors=True)


@pytest.fixture(scope="session", autouse=True)
def converter_path():
    path = os.environ.get("P2K_CONVERTER")
    if not path or not os.access(path, os.X_OK):
        pytest.exit("P2K_CONVERTER must name the built converter (ctest sets it)", returncode=2)
    return path


@pytest.fixture(scope="session")
def conversion(tmp_path_factory):
    """convert(field name, half, kmirror_z, **control) -> path of the output, made once."""
    made = {}

    def convert(name, half=0, kmirror_z=0, **control):
        key = (name, half, kmirror_z, tuple(sorted(control.items())))
        if key not in made:
            folder = tmp_path_factory.mktemp(f"{name}_{half}_{kmirror_z}")
            made[key] = analytic.convert(str(folder), analytic.FIELDS[name], half, kmirror_z, **control)
        return made[key]

    return convert


@pytest.fixture(scope="session")
def example_files(tmp_path_factory, converter_path):
    """The bundled example converted in layouts 0, 1 and 2: {layout: path}."""
    files = {}
    for layout in (0, 1, 2):
        folder = tmp_path_factory.mktemp(f"lens{layout}")
        shutil.copytree(os.path.join(SOURCE_DIR, "examples", "lens"), folder, dirs_exist_ok=True)
        control = folder / "poisson_to_kavro.dat"
        lines = control.read_text().splitlines()
        lines[6] = f"{layout}        kform_3D"
        control.write_text("\n".join(lines) + "\n")
        subprocess.run([converter_path], cwd=folder, check=True, capture_output=True)
        files[layout] = str(folder / "eh_EMS.#01")
    return files


@pytest.fixture(scope="session")
def example_control():
    """The bundled example's d_elm and aper, as its control file gives them (lines 9 and 10)."""
    with open(os.path.join(SOURCE_DIR, "examples", "lens", "poisson_to_kavro.dat")) as control:
        lines = control.read().splitlines()
    return {"d_elm": float(lines[8].split()[0]), "aper": float(lines[9].split()[0])}
