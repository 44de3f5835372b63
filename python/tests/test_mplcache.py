"""matplotlib's font list under a file-size limit, a read-only or a fresh cache folder: the figure
is drawn, nothing is said about the cache and the folder is left as it was."""

import doctest
import hashlib
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile

import pytest

from kavro_field.figures import mplcache

PACKAGE_PARENT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOBODY = 65534
# What the command line does at its start, then a figure with text (which needs the font list),
# saved to memory so that the file-size limit bears on matplotlib's cache alone.
DRAW = """
import io, json, os
from kavro_field.figures import mplcache
choice = mplcache.prepare_for_command_line()
from matplotlib.figure import Figure
figure = Figure()
figure.add_subplot().set_title("Bz [G]")
png = io.BytesIO()
figure.savefig(png, format="png")
print(json.dumps({"private": choice.private, "folder": os.environ["MPLCONFIGDIR"], "png": png.getvalue()[:4].hex()}))
"""


def _draw(cache, fsize=resource.RLIM_INFINITY, user=None):
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
        if user is not None:
            os.setgid(user)
            os.setuid(user)
    run = subprocess.run([sys.executable, "-c", DRAW], preexec_fn=limit, capture_output=True, text=True, cwd="/",
                         env={**os.environ, "MPLCONFIGDIR": str(cache), "PYTHONPATH": PACKAGE_PARENT}, timeout=300)
    assert run.returncode == 0 and run.stderr == "", run.stderr
    said = json.loads(run.stdout)
    assert said["png"] == b"\x89PNG".hex()
    return said


def _contents(folder):
    """{name: (size, sha256, mtime)} of the files in `folder`."""
    found = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as held:
            data = held.read()
        found[name] = (len(data), hashlib.sha256(data).hexdigest(), os.stat(os.path.join(folder, name)).st_mtime_ns)
    return found


@pytest.fixture(scope="module")
def complete_cache(tmp_path_factory):
    """A cache folder holding the font list matplotlib built without any limit."""
    folder = tmp_path_factory.mktemp("complete")
    said = _draw(folder)
    assert not said["private"]
    return folder


@pytest.fixture
def shared_folder():
    """A folder another user may enter (pytest's own temporary folders are the owner's only)."""
    folder = tempfile.mkdtemp(prefix="mplcache-")
    os.chmod(folder, 0o755)
    yield folder
    shutil.rmtree(folder)


@pytest.mark.parametrize("held, fsize, private", [
    ("nothing", 4096, True),
    ("cut", 4096, True),
    ("complete", 4096, False),
    ("nothing", 1 << 20, True),
])
def test_a_file_size_limit_leaves_the_cache_folder_as_it_was(complete_cache, tmp_path, held, fsize, private):
    cache = tmp_path / "matplotlib"
    cache.mkdir()
    font_list = f"fontlist-v{mplcache.font_list_version()}.json"
    if held == "complete":
        shutil.copyfile(complete_cache / font_list, cache / font_list)
    elif held == "cut":
        (cache / font_list).write_bytes((complete_cache / font_list).read_bytes()[:4096])
    before = _contents(cache)
    said = _draw(cache, fsize=fsize)
    assert said["private"] == private
    assert _contents(cache) == before
    if private:
        assert said["folder"] != str(cache) and not os.path.exists(said["folder"])


def test_without_limits_matplotlib_saves_its_list_as_usual(complete_cache):
    font_list = complete_cache / f"fontlist-v{mplcache.font_list_version()}.json"
    assert mplcache.complete_font_list(str(complete_cache), mplcache.font_list_version()) == str(font_list)


@pytest.mark.parametrize("held", ["nothing", "complete"])
def test_a_read_only_cache_folder_is_left_alone(complete_cache, shared_folder, held):
    cache = os.path.join(shared_folder, "matplotlib")
    os.mkdir(cache)
    if held == "complete":
        name = f"fontlist-v{mplcache.font_list_version()}.json"
        shutil.copyfile(complete_cache / name, os.path.join(cache, name))
        os.chmod(os.path.join(cache, name), 0o444)
    os.chmod(cache, 0o555)
    before = _contents(cache)
    # The superuser writes in any folder: the run then drops to an ordinary user, as it would be.
    said = _draw(cache, user=NOBODY if os.geteuid() == 0 else None)
    assert said["private"] and not os.path.exists(said["folder"])
    assert _contents(cache) == before


@pytest.mark.parametrize("environ, folder", [
    ({"MPLCONFIGDIR": "rel/mpl", "XDG_CACHE_HOME": "/x"}, os.path.abspath("rel/mpl")),
    ({"MPLCONFIGDIR": "", "XDG_CACHE_HOME": "/x", "HOME": "/h"}, "/x/matplotlib"),
    ({"XDG_CACHE_HOME": "", "HOME": "/h"}, "/h/.cache/matplotlib"),
])
def test_the_cache_folder_is_matplotlibs(environ, folder):
    assert mplcache.cache_folder(environ) == folder


def test_a_font_list_of_another_version_or_cut_is_not_complete(tmp_path):
    (tmp_path / "fontlist-v5.json").write_text(json.dumps({"_version": 5, "ttflist": []}))
    (tmp_path / "fontlist-v6.json").write_text(json.dumps({"_version": 5}))
    (tmp_path / "fontlist-v7.json").write_text(json.dumps({"_version": 7, "ttflist": []})[:12])
    assert [mplcache.complete_font_list(str(tmp_path), v) for v in (5, 6, 7, 8)] == [
        str(tmp_path / "fontlist-v5.json"), None, None, None]


def test_the_examples_run():
    failed, tried = doctest.testmod(mplcache)
    assert tried > 5 and failed == 0
