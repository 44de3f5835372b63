"""The user's guide's sessions: read from docs/guide.md, run, compared and rewritten.

A session is a fenced block marked ``console``. Each of its commands starts with ``$ `` and is
followed by the lines it prints (standard output and standard error, in the order printed); a
line ``...`` in those stands for any number of printed lines. Every command of the guide runs in
one shell, in order, in a temporary copy of the bundled examples (``lens/`` and ``solenoid/``),
with ``poisson_to_kavro`` (the built converter) and ``kavro-field`` (from the source tree) on the
PATH and a home of its own, so that a command may use what an earlier one wrote, and ``cd``.

A line ``<!-- pending: TEXT -->`` in the guide names an option or command the companion of this
checkout does not know yet: a command holding TEXT that the companion refuses as bad usage is left
unchecked; once none is refused the line must go (`rewrite` removes it).

Blocks marked ``pycon`` are the library in a notebook: doctests, run in the same folder after the
sessions.
"""

import dataclasses
import os
import re
import shutil
import subprocess
import tempfile
from typing import Dict, List, Optional, Tuple

PROMPT = "$ "
ELISION = "..."
_FENCE = re.compile(r"^```(\w*)\s*$")
_PENDING = re.compile(r"^<!-- pending: (.+?) -->\s*$")
_END = "@@kavro-field-guide-command-end@@"
# What the companion's argument parser says of an option or command it does not know.
_UNKNOWN = re.compile(r"kavro-field: (unrecognized arguments|argument command: invalid choice)")


@dataclasses.dataclass
class Command:
    """One command of a session: its text, the lines the guide shows and where they stand."""

    text: str
    shown: List[str]
    line: int  # index in the guide's lines of the command's own line
    end: int  # index one past its last shown line


def read(path: str) -> Tuple[List[str], List[Command], List[str], List[str]]:
    """The guide's lines, its session commands, its pending texts and its ``pycon`` blocks."""
    with open(path, encoding="utf-8") as guide:
        lines = guide.read().split("\n")
    commands: List[Command] = []
    pending: List[str] = []
    notebook: List[str] = []
    fence: Optional[str] = None
    block: List[str] = []
    for n, line in enumerate(lines):
        opening = _FENCE.match(line)
        if fence is None:
            if _PENDING.match(line):
                pending += [p.strip() for p in _PENDING.match(line).group(1).split(",")]
            if opening and opening.group(1):
                fence, block = opening.group(1), []
            elif opening:
                fence, block = "", []
            continue
        if line.startswith("```"):
            if fence == "pycon":
                notebook.append("\n".join(block) + "\n")
            fence = None
            continue
        block.append(line)
        if fence != "console":
            continue
        if line.startswith(PROMPT):
            if commands and commands[-1].end == -1:
                commands[-1].end = n
            commands.append(Command(line[len(PROMPT):], [], n, -1))
        elif commands and commands[-1].end == -1:
            commands[-1].shown.append(line)
        if commands and commands[-1].end == -1 and n + 1 < len(lines) and lines[n + 1].startswith("```"):
            commands[-1].end = n + 1
    return lines, commands, pending, notebook


def workspace(source_dir: str, converter: str) -> Tuple[str, Dict[str, str]]:
    """A temporary folder holding copies of the examples, and the environment the guide's shell
    runs in (its PATH: the converter and the source tree's kavro-field; a home of its own)."""
    root = tempfile.mkdtemp(prefix="kavro-field-guide-")
    for example in ("lens", "solenoid"):
        shutil.copytree(os.path.join(source_dir, "examples", example), os.path.join(root, example))
    tools = os.path.join(root, ".bin")
    home = os.path.join(root, ".home")
    os.makedirs(tools)
    os.makedirs(home)
    os.symlink(os.path.abspath(converter), os.path.join(tools, "poisson_to_kavro"))
    os.symlink(os.path.join(os.path.abspath(source_dir), "python", "kavro-field"), os.path.join(tools, "kavro-field"))
    environment = {"PATH": f"{tools}:/usr/bin:/bin", "HOME": home, "LC_ALL": "C.UTF-8", "COLUMNS": "100",
                   "MPLCONFIGDIR": os.path.join(root, ".home", "matplotlib"), "PYTHONDONTWRITEBYTECODE": "1"}
    return root, environment


def run(commands: List[Command], folder: str, environment: Dict[str, str]) -> List[List[str]]:
    """Run `commands` in order in one shell in `folder`: the lines each printed."""
    script = []
    for command in commands:
        # The marker on a line of its own; the command's status restored for the next one ($?).
        script.append(f"{command.text}\n__status=$?; printf '\\n{_END}\\n'; (exit $__status)")
    done = subprocess.run(["/bin/bash", "--noprofile", "--norc", "-c", "\n".join(script)], cwd=folder,
                          env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)
    printed = done.stdout.decode("utf-8", "replace").split(f"\n{_END}\n")
    outputs = []
    for text in printed[:len(commands)]:
        lines = text.split("\n")
        outputs.append(lines[:-1] if lines and lines[-1] == "" else lines)
    return outputs


def matches(shown: List[str], printed: List[str]) -> bool:
    """Whether the `printed` lines are the `shown` ones, an ``...`` line standing for any number of
    lines (trailing blanks ignored)."""
    shown = [line.rstrip() for line in shown]
    printed = [line.rstrip() for line in printed]
    if ELISION not in shown:
        return shown == printed
    cut = shown.index(ELISION)
    head, rest = shown[:cut], shown[cut + 1:]
    if printed[:len(head)] != head:
        return False
    return any(matches(rest, printed[start:]) for start in range(len(head), len(printed) + 1))


def refused_as_unknown(command: Command, printed: List[str], pending: List[str]) -> bool:
    """Whether `command` uses a pending option or command that this companion refuses."""
    return any(p in command.text for p in pending) and any(_UNKNOWN.match(line) for line in printed)


def shown_for(shown: List[str], printed: List[str]) -> List[str]:
    """What the guide shows of `printed`: all of it, or where it elides, as many lines before its
    first elision and after its last as it showed before, one elision between them."""
    if ELISION not in shown:
        return printed
    head = shown.index(ELISION)
    tail = len(shown) - 1 - max(n for n, line in enumerate(shown) if line == ELISION)
    if head + tail >= len(printed):
        return printed
    return printed[:head] + [ELISION] + (printed[len(printed) - tail:] if tail else [])


def rewrite(path: str, source_dir: str, converter: str, whole: bool = False) -> int:
    """Rewrite the guide's shown lines from real runs; the number of commands whose lines changed.
    With `whole`, every line printed is shown (the elisions to be made again by hand), and so it is
    for a pending command that now runs. A pending line goes once no command of it is refused."""
    lines, commands, pending, _ = read(path)
    folder, environment = workspace(source_dir, converter)
    try:
        outputs = run(commands, folder, environment)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    changed = 0
    still_pending = False
    for command, printed in reversed(list(zip(commands, outputs))):
        if refused_as_unknown(command, printed, pending):
            still_pending = True
            continue
        # A command that was pending has never been shown: all of what it prints, to elide by hand.
        full = whole or any(p in command.text for p in pending)
        new = printed if full else shown_for(command.shown, printed)
        if new != command.shown if full else not matches(command.shown, printed):
            lines[command.line + 1:command.end] = new
            changed += 1
    if not still_pending:
        lines = [line for line in lines if not _PENDING.match(line)]
    with open(path, "w", encoding="utf-8") as guide:
        guide.write("\n".join(lines))
    return changed
