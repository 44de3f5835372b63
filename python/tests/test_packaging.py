"""`pip install ./python` into a fresh virtual environment that sees the distribution's packages."""

import importlib.util
import os
import shutil
import subprocess
import sys

import pytest

PYTHON_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.mark.skipif(importlib.util.find_spec("venv") is None or importlib.util.find_spec("ensurepip") is None,
                    reason="no venv with pip for this python3 (Debian: apt-get install python3-venv)")
def test_pip_install_gives_the_package_and_the_console_script(tmp_path, example_files):
    # A copy, so that the build's own folders do not land in the checkout.
    source = tmp_path / "python"
    shutil.copytree(PYTHON_DIR, source, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
    env = tmp_path / "env"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(env)], check=True)
    install = subprocess.run([str(env / "bin" / "python"), "-m", "pip", "install", "--no-build-isolation",
                              "--no-index", "--no-cache-dir", str(source)], capture_output=True, text=True)
    assert install.returncode == 0, install.stdout + install.stderr
    imported = subprocess.run([str(env / "bin" / "python"), "-c", "import kavro_field; print(kavro_field.__file__)"],
                              capture_output=True, text=True, cwd=tmp_path)
    assert imported.stdout.startswith(str(env / "lib")), imported.stdout + imported.stderr
    script = subprocess.run([str(env / "bin" / "kavro-field"), "info", example_files[0]], capture_output=True, text=True)
    assert script.returncode == 0 and script.stdout.startswith("file"), script.stderr
