"""Where matplotlib keeps its font list for one run of the command line.

matplotlib builds a list of the installed fonts the first time it draws text and saves it as
``fontlist-vNNN.json`` in its cache folder (``$MPLCONFIGDIR``, else ``$XDG_CACHE_HOME/matplotlib``
or ``~/.cache/matplotlib``). That write goes wrong in ways a user never asked for: under a
file-size limit (``ulimit -f``, RLIMIT_FSIZE) or on a full disk the file is left cut short, which
every later run reads, rejects and tries to write again; in a folder it cannot write, matplotlib
makes a temporary one and says so on standard error.

The rule, decided before matplotlib is imported:

- the cache folder already holds a complete font list of the installed matplotlib's version:
  matplotlib reads it and writes nothing, so nothing is changed (only when the folder itself is
  not writable the list is copied into a temporary folder, which matplotlib then uses);
- otherwise, when the write might fail or be cut (the folder cannot be created or written, a
  finite file-size limit, less than `FREE_SPACE_NEEDED` bytes free), matplotlib gets a temporary
  folder for this run, removed at exit, where it builds the list in memory and saves nothing,
  and the user's folder is left as it was;
- otherwise matplotlib builds and saves the list where it always does.

`decide` only looks (it reads the environment given and the file system, and makes nothing);
`use_for_this_process`
acts on a decision by setting ``MPLCONFIGDIR`` (and ``MATPLOTLIBRC``, so that the user's own
matplotlibrc still applies) in this process's environment. That changes the process's state and
belongs at the program's edge, the command line, before matplotlib is imported; a library caller
(a notebook) keeps matplotlib's own behaviour.

Examples
--------
>>> import os, tempfile
>>> folder = tempfile.mkdtemp()
>>> choice = decide({"MPLCONFIGDIR": folder}, file_size_limit=4096)
>>> choice.private, choice.reason
(True, 'a file-size limit of 4096 bytes')
>>> decide({"MPLCONFIGDIR": folder}, file_size_limit=None).private
False
>>> os.rmdir(folder)
"""

import atexit
import dataclasses
import importlib.util
import json
import os
import re
import resource
import shutil
import tempfile
from typing import Mapping, Optional

#: Below this many free bytes in the cache folder's file system the font list may not fit.
FREE_SPACE_NEEDED = 64 << 20

_UNKNOWN_LIMIT = object()


@dataclasses.dataclass(frozen=True)
class CacheChoice:
    """What `decide` found.

    Attributes
    ----------
    folder : str
        The cache folder matplotlib would use.
    font_list : str or None
        The complete font list found there, or None.
    private : bool
        Whether this run should use a temporary folder of its own.
    reason : str or None
        Why (for a private folder), e.g. "a file-size limit of 4096 bytes".
    """

    folder: str
    font_list: Optional[str]
    private: bool
    reason: Optional[str]


def cache_folder(environ: Mapping[str, str]) -> str:
    """The folder matplotlib takes for its cache under the environment `environ` (Linux rules).

    Examples
    --------
    >>> cache_folder({"MPLCONFIGDIR": "/tmp/mpl", "XDG_CACHE_HOME": "/tmp/cache"})
    '/tmp/mpl'
    >>> cache_folder({"XDG_CACHE_HOME": "/tmp/cache", "HOME": "/home/u"})
    '/tmp/cache/matplotlib'
    >>> cache_folder({"HOME": "/home/u"})
    '/home/u/.cache/matplotlib'
    """
    if environ.get("MPLCONFIGDIR"):
        return os.path.abspath(environ["MPLCONFIGDIR"])
    base = environ.get("XDG_CACHE_HOME") or os.path.join(_home(environ), ".cache")
    return os.path.join(base, "matplotlib")


def _config_folder(environ: Mapping[str, str]) -> str:
    if environ.get("MPLCONFIGDIR"):
        return os.path.abspath(environ["MPLCONFIGDIR"])
    base = environ.get("XDG_CONFIG_HOME") or os.path.join(_home(environ), ".config")
    return os.path.join(base, "matplotlib")


def _home(environ: Mapping[str, str]) -> str:
    if environ.get("HOME"):
        return environ["HOME"]
    return os.path.expanduser("~")


def font_list_version() -> Optional[int]:
    """The version number of the installed matplotlib's font list, read from its source so that
    matplotlib is not imported (importing it would settle its folders); None when not found.

    Examples
    --------
    >>> font_list_version() > 0
    True
    """
    spec = importlib.util.find_spec("matplotlib")
    if spec is None or not spec.origin:
        return None
    try:
        with open(os.path.join(os.path.dirname(spec.origin), "font_manager.py"), encoding="utf-8") as source:
            found = re.search(r"^class FontManager\b.*?^    __version__ = (\d+)", source.read(), re.M | re.S)
    except OSError:
        return None
    return int(found.group(1)) if found else None


def complete_font_list(folder: str, version: Optional[int]) -> Optional[str]:
    """The path of a font list in `folder` that matplotlib of font-list `version` would accept
    (whole JSON, its own version), or None.

    Examples
    --------
    >>> import json, tempfile
    >>> folder = tempfile.mkdtemp()
    >>> with open(os.path.join(folder, "fontlist-v7.json"), "w") as out:
    ...     json.dump({"_version": 7, "ttflist": []}, out)
    >>> os.path.basename(complete_font_list(folder, 7)), complete_font_list(folder, 8)
    ('fontlist-v7.json', None)
    >>> shutil.rmtree(folder)
    """
    if version is None:
        return None
    path = os.path.join(folder, f"fontlist-v{version}.json")
    try:
        with open(path, encoding="utf-8") as held:
            content = json.load(held)
    except (OSError, ValueError):
        return None
    return path if isinstance(content, dict) and content.get("_version") == version else None


def _writable_folder(folder: str) -> bool:
    """Whether `folder` is a folder this process may write in, or could be made as one (its
    nearest existing ancestor a writable folder); nothing is made."""
    if os.path.lexists(folder):
        return os.path.isdir(folder) and os.access(folder, os.W_OK | os.X_OK)
    parent = os.path.dirname(folder)
    return parent != folder and _writable_folder(parent)


def _file_size_limit() -> Optional[int]:
    soft, _ = resource.getrlimit(resource.RLIMIT_FSIZE)
    return None if soft == resource.RLIM_INFINITY else soft


def decide(environ: Mapping[str, str], file_size_limit=_UNKNOWN_LIMIT) -> CacheChoice:
    """Whether a run under `environ` should keep matplotlib's cache in a temporary folder.

    Parameters
    ----------
    environ : mapping
        The environment matplotlib will see (``os.environ`` for this process).
    file_size_limit : int or None, optional
        The file-size limit in bytes, None for none; by default this process's RLIMIT_FSIZE.

    Returns
    -------
    CacheChoice

    Examples
    --------
    >>> import tempfile
    >>> with tempfile.NamedTemporaryFile() as plain_file:
    ...     choice = decide({"MPLCONFIGDIR": plain_file.name + "/matplotlib"}, file_size_limit=None)
    >>> choice.private, choice.reason.endswith("/matplotlib cannot be written")
    (True, True)
    """
    if file_size_limit is _UNKNOWN_LIMIT:
        file_size_limit = _file_size_limit()
    folder = cache_folder(environ)
    font_list = complete_font_list(folder, font_list_version())
    writable = _writable_folder(folder)
    if not writable:
        return CacheChoice(folder, font_list, True, f"the folder {folder} cannot be written")
    if font_list is not None:
        return CacheChoice(folder, font_list, False, None)
    if file_size_limit is not None:
        return CacheChoice(folder, None, True, f"a file-size limit of {file_size_limit} bytes")
    try:
        space = os.statvfs(folder)
        free = space.f_bavail * space.f_frsize
    except OSError:
        free = None
    if free is not None and free < FREE_SPACE_NEEDED:
        return CacheChoice(folder, None, True, f"{free} bytes free in {folder}")
    return CacheChoice(folder, None, False, None)


def use_for_this_process(choice: CacheChoice) -> Optional[str]:
    """Act on `choice` for the rest of this process; the command line's edge only.

    For a private choice: make a temporary folder (removed at exit) and point ``MPLCONFIGDIR`` at
    it in ``os.environ`` (the user's matplotlibrc, if any, through ``MATPLOTLIBRC``). A complete
    font list is copied into it; otherwise its font list is a link to the null device, so that
    matplotlib builds the list in memory and its save, which no later run would read, can fail
    neither under the file-size limit nor on a full disk (matplotlib 3.6 lets a failed save end
    the import of its text support). Call it before matplotlib is imported.

    Returns
    -------
    str or None
        The temporary folder, or None when nothing was changed.
    """
    if not choice.private:
        return None
    config = _config_folder(os.environ)
    folder = tempfile.mkdtemp(prefix="kavro-field-matplotlib-")
    atexit.register(shutil.rmtree, folder, True)
    version = font_list_version()
    if choice.font_list is not None:
        try:
            shutil.copyfile(choice.font_list, os.path.join(folder, os.path.basename(choice.font_list)))
        except OSError:
            choice = dataclasses.replace(choice, font_list=None)
    if choice.font_list is None and version is not None:
        os.symlink(os.devnull, os.path.join(folder, f"fontlist-v{version}.json"))
    rc_file = os.path.join(config, "matplotlibrc")
    if "MATPLOTLIBRC" not in os.environ and os.path.isfile(rc_file):
        os.environ["MATPLOTLIBRC"] = rc_file
    os.environ["MPLCONFIGDIR"] = folder
    return folder


def prepare_for_command_line() -> CacheChoice:
    """`decide` for this process and `use_for_this_process`: the one call the command line makes
    at its start, before anything imports matplotlib.

    Returns
    -------
    CacheChoice
        What was decided (for a report in debug output; nothing need be done with it).
    """
    choice = decide(os.environ)
    use_for_this_process(choice)
    return choice
