"""The user's guide stays true: its sessions run in a copy of the examples and print what it shows,
and its notebook examples run as doctests."""

import doctest
import os
import shutil

import pytest

import guide_blocks

SOURCE_DIR = os.environ.get("P2K_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
GUIDE = os.path.join(SOURCE_DIR, "docs", "guide.md")


@pytest.fixture(scope="module")
def guide(converter_path):
    """The guide's commands, what each printed and the folder they ran in (kept for the notebook)."""
    lines, commands, pending, notebook = guide_blocks.read(GUIDE)
    folder, environment = guide_blocks.workspace(SOURCE_DIR, converter_path)
    outputs = guide_blocks.run(commands, folder, environment)
    yield commands, outputs, pending, notebook, folder
    shutil.rmtree(folder, ignore_errors=True)


def test_every_session_prints_what_the_guide_shows(guide):
    commands, outputs, pending, _, _ = guide
    assert len(commands) > 20 and len(outputs) == len(commands)
    drifted, refused = [], []
    for command, printed in zip(commands, outputs):
        if guide_blocks.refused_as_unknown(command, printed, pending):
            refused.append(command.text)
        elif not guide_blocks.matches(command.shown, printed):
            drifted.append(f"guide.md line {command.line + 1}: $ {command.text}\n  shows:   "
                           + "\n           ".join(command.shown) + "\n  printed: " + "\n           ".join(printed))
    assert not drifted, "the guide no longer tells what the commands print (scripts/update-guide rewrites it):\n" \
        + "\n".join(drifted)
    assert refused or not pending, f"every pending command runs now: remove the guide's pending line ({pending})"


def test_the_notebook_examples_run(guide, monkeypatch):
    *_, notebook, folder = guide
    assert notebook
    monkeypatch.chdir(folder)
    parser, runner = doctest.DocTestParser(), doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    for n, block in enumerate(notebook):
        runner.run(parser.get_doctest(block, {}, f"guide.md notebook block {n + 1}", GUIDE, 0))
    result = runner.summarize(verbose=False)
    assert result.attempted > 3 and result.failed == 0


@pytest.mark.parametrize("shown, printed, match", [
    (["a", "b"], ["a", "b"], True),
    (["a", "b"], ["a", "b", "c"], False),
    (["a", "...", "d"], ["a", "b", "c", "d"], True),
    (["a", "...", "d"], ["a", "d"], True),
    (["a", "...", "d"], ["a", "b", "c"], False),
    (["...", "c"], ["a", "b", "c"], True),
    (["a   "], ["a"], True),
])
def test_an_elision_stands_for_any_lines_and_nothing_else(shown, printed, match):
    assert guide_blocks.matches(shown, printed) == match


def test_the_rewrite_shows_what_is_printed_and_keeps_the_elisions(converter_path, tmp_path):
    guide = tmp_path / "guide.md"
    guide.write_text("<!-- pending: info -->\n"
                     "```console\n"
                     "$ cd lens && poisson_to_kavro > /dev/null && cd ..\n"
                     "$ kavro-field check lens/eh_EMS.#01 --control lens\n"
                     "note: stale\n"
                     "...\n"
                     "lens/eh_EMS.#01: 3 findings\n"
                     "$ kavro-field info lens/eh_EMS.#01\n"
                     "...\n"
                     "```\n"
                     "```console\n"
                     "$ kavro-field check lens/eh_EMS.#01\n"
                     "```\n")
    assert guide_blocks.rewrite(str(guide), SOURCE_DIR, converter_path) == 3
    lines, commands, pending, _ = guide_blocks.read(str(guide))
    assert pending == [] and not lines[0].startswith("<!--")
    check_control, info, check = commands[1:]
    # The elided command keeps one line before and one after its elision; the formerly pending one
    # and the one that showed nothing show all they print.
    assert check_control.shown[0].startswith("note: ") and check_control.shown[1:] == ["...", "lens/eh_EMS.#01: no findings"]
    assert info.shown[0] == "file        lens/eh_EMS.#01" and len(info.shown) > 10
    assert check.shown == ["lens/eh_EMS.#01: no findings"]
