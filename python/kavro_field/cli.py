"""The command line: parses the arguments and hands over to the library."""

import argparse
import codecs
import errno
import io
import json
import math
import os
import signal
import sys
import traceback

from ._version import __version__
from .errors import KavroFieldError
from .units import LENGTH_UNITS

PROGRAM = "kavro-field"


class _Parser(argparse.ArgumentParser):
    """Bad usage ends with one line on standard error and exit status 2, like a bad file."""

    def error(self, message):
        sys.stderr.write(f"{PROGRAM}: {message} (see {PROGRAM} --help)\n")
        sys.exit(2)


def _info(args):
    from .fieldfiles.layouts import load
    from .analysis.info import file_info, info_lines
    info = file_info(load(args.file))
    print(json.dumps(info) if args.json else "\n".join(info_lines(info)))
    return 0


def _check(args):
    from .analysis.checks import check_file
    from .fieldfiles.layouts import load
    from .findings import render
    f = load(args.file)
    notes = []
    if args.control:
        from .analysis.crosscheck import check_with_control
        findings, notes = check_with_control(f, args.control)
    else:
        findings = check_file(f)
    if args.json:
        print(json.dumps({"file": args.file, "findings": [finding.as_dict() for finding in findings],
                          "notes": notes}))
        return 1 if findings else 0
    for note in notes:
        print(note)
    for finding in findings:
        print(render(finding))
    print(f"{args.file}: {len(findings)} finding{'' if len(findings) == 1 else 's'}" if findings
          else f"{args.file}: no findings")
    return 1 if findings else 0


def _lint(args):
    from .analysis.lint import lint, lint_lines
    report = lint(args.control)
    if args.json:
        data = {key: report[key] for key in ("converter", "control")}
        data["warnings"] = [warning.as_dict() for warning in report["warnings"]]
        print(json.dumps(data))
    else:
        print("\n".join(lint_lines(report)))
    return 2 if report["unreadable"] else 1 if report["warnings"] else 0


def _from_control(args, f):
    """Refuse a --control that did not make the file: its numbers would be another element's."""
    if args.control:
        from .analysis.crosscheck import control_mismatch
        control_mismatch(f, args.control, args.file)


def _summary(args):
    from .fieldfiles.layouts import load
    from .analysis.axis import summarise_axis, summary_lines
    f = load(args.file)
    _from_control(args, f)
    s = summarise_axis(f, args.length_unit, args.field_unit, args.momentum, args.frequency, args.control)
    print(json.dumps(s) if args.json else "\n".join(summary_lines(s)))
    return 0


def _plot(args):
    from .fieldfiles.layouts import load
    from .figures.plots import save_plot
    f = load(args.file)
    _from_control(args, f)
    kind, inputs = _kind_and_inputs(args, f, need_inputs=True)
    out = args.output or f"{args.file}.png"
    save_plot(f, out, args.length_unit, args.field_unit, kind, inputs)
    print(f"written: {out}")
    return 0


def _kind_and_inputs(args, f, need_inputs=False):
    """The field kind the file, --kind or the control file states (a usage error where they
    disagree with each other or with --field-unit), and the conversion's inputs for the figure."""
    from .units import unit_problem
    kinds = {"the file": f.kind, "--kind": args.kind}
    inputs = None
    if args.control:
        from .inputs.trace import read_inputs
        inputs = read_inputs(args.control)
        kinds["the control file"] = inputs.kind
    stated = {source: kind for source, kind in kinds.items() if kind}
    if len(set(stated.values())) > 1:
        args.usage(" and ".join(f"{source} says {kind}" for source, kind in stated.items()))
    kind = next(iter(stated.values()), None)
    problem = unit_problem(args.field_unit, kind)
    if problem:
        args.usage(problem)
    return kind, inputs if need_inputs else None


def _diff(args):
    from .analysis.diff import compare, difference_lines, header_differences
    from .fieldfiles.layouts import load
    a, b = load(args.a), load(args.b)
    header = header_differences(a, b, args.rtol)
    rows = compare(a, b, args.rtol)
    print("\n".join(header + difference_lines(a, b, rows)))
    equal = all(row["equal"] for row in rows) and not header
    print(f"equal within {args.rtol:g}" if equal else f"differ by more than {args.rtol:g}")
    return 0 if equal else 1


def _export(args):
    from .exchange.exports import export_npz, export_vti
    from .fieldfiles.layouts import load
    f = load(args.file)
    _from_control(args, f)
    kind, _ = _kind_and_inputs(args, f)
    if args.frequency is not None and not 0.0 < args.frequency < math.inf:
        args.usage(f"--frequency {args.frequency:g}: a frequency in Hz above 0")
    units = {"length_unit": args.length_unit, "field_unit": args.field_unit, "kind": kind,
             "frequency": args.frequency}
    if args.openpmd:
        from .exchange.openpmd import export_openpmd
        missing = [option for option, value in (("--length-unit", args.length_unit),
                                                ("--field-unit", args.field_unit)) if value is None]
        if kind is None:
            missing.append(f"--kind E|B or --control (layout {f.layout} does not say whether it holds E or B)")
        if missing:
            args.usage(f"export --openpmd writes SI values and needs {', '.join(missing)}; nothing written")
        export_openpmd(f, args.openpmd, **units)
    elif args.npz:
        export_npz(f, args.npz, **units)
    else:
        export_vti(f, args.vtk, **units)
    print(f"written: {args.npz or args.vtk or args.openpmd}")
    return 0


def _unit_options(command):
    """The units of a file's numbers, which it does not state, and its field kind."""
    from .units import FIELD_UNITS
    command.add_argument("--length-unit", choices=LENGTH_UNITS, help="length unit of the file's grid")
    command.add_argument("--field-unit", choices=FIELD_UNITS, help="unit of the file's field values")
    command.add_argument("--kind", choices=("E", "B"), help="field kind, where the layout does not say it")


def parser():
    """The argument parser of all subcommands."""
    from .analysis.diff import DEFAULT_RTOL
    top = _Parser(prog=PROGRAM, description="Read, check, plot, compare and export the converter's field files.")
    top.add_argument("--version", action="version", version=f"{PROGRAM} {__version__}")
    sub = top.add_subparsers(dest="command", required=True, parser_class=_Parser)

    info = sub.add_parser("info", help="layout, grid, flags and component ranges")
    info.add_argument("file")
    info.add_argument("--json", action="store_true", help="one JSON object")
    info.set_defaults(run=_info)

    check = sub.add_parser("check", help="structure and physics checks; exit 1 with findings")
    check.add_argument("file")
    check.add_argument("--control", metavar="CONTROL_FILE",
                       help="control file of the conversion (or its folder): rebuild the field from its table and"
                            " compare every node; judge the map as lint does")
    check.add_argument("--json", action="store_true", help="one JSON object: the findings as data")
    check.set_defaults(run=_check)

    lint = sub.add_parser("lint", help="what the converter will make of a control file and its table; exit 1 with"
                                       " warnings")
    lint.add_argument("control", nargs="?", default=".", metavar="CONTROL",
                      help="control file or the folder holding poisson_to_kavro.dat (default: .)")
    lint.add_argument("--json", action="store_true", help="one JSON object")
    lint.set_defaults(run=_lint)

    from .units import FIELD_UNITS
    summary = sub.add_parser("summary", help="on-axis field: peak, ends, integrals, effective length; in SI on request")
    summary.add_argument("file")
    summary.add_argument("--control", metavar="CONTROL",
                         help="control file of the conversion (or its folder): the table's on-axis numbers beside")
    summary.add_argument("--length-unit", choices=list(LENGTH_UNITS), help="length unit of the table")
    summary.add_argument("--field-unit", choices=list(FIELD_UNITS), help="field unit of the table times its scale")
    summary.add_argument("--momentum", type=float, metavar="P", help="MeV/c, for B: focal length and Larmor angle")
    summary.add_argument("--frequency", type=float, metavar="F", help="Hz, for an RF amplitude E: transit-time factor")
    summary.add_argument("--json", action="store_true", help="one JSON object")
    summary.set_defaults(run=_summary)

    plot = sub.add_parser("plot", help="one figure: on-axis field, transverse profile, slices, the table's map")
    plot.add_argument("file")
    plot.add_argument("-o", "--output", metavar="OUT.png", help="default: FILE.png")
    _unit_options(plot)
    # The old name of --length-unit.
    plot.add_argument("--unit", dest="length_unit", choices=LENGTH_UNITS, help=argparse.SUPPRESS)
    plot.add_argument("--control", metavar="CONTROL_FILE",
                      help="control file of the conversion (or its folder): adds the table's map")
    plot.set_defaults(run=_plot, usage=plot.error)

    diff = sub.add_parser("diff", help="largest differences per component; exit 1 when they differ")
    diff.add_argument("a")
    diff.add_argument("b")
    diff.add_argument("--rtol", type=float, default=DEFAULT_RTOL,
                      help=f"tolerance relative to each component's largest |value| (default {DEFAULT_RTOL:g})")
    diff.set_defaults(run=_diff)

    export = sub.add_parser("export", help="NumPy archive, VTK image data or openPMD external field mesh")
    export.add_argument("file")
    target = export.add_mutually_exclusive_group(required=True)
    target.add_argument("--npz", metavar="OUT.npz")
    target.add_argument("--vtk", metavar="OUT.vti")
    target.add_argument("--openpmd", metavar="OUT.h5", help="needs --length-unit, --field-unit and the kind")
    _unit_options(export)
    export.add_argument("--control", metavar="CONTROL_FILE", help="control file of the conversion: the field kind")
    export.add_argument("--frequency", type=float, metavar="HZ",
                        help="the field is an RF amplitude of this frequency (openPMD harmonic 1)")
    export.set_defaults(run=_export, usage=export.error)
    return top


_ESCAPE = "kavro-field-escape"


def _escape_unencodable(err):
    """What the output's encoding cannot show, as backslash escapes: a file name's bytes that are
    not text (held as lone surrogates) as \\xNN, so that the name reads as it is on disk."""
    shown = "".join(f"\\x{ord(c) - 0xDC00:02x}" if 0xDC80 <= ord(c) <= 0xDCFF else ascii(c)[1:-1]
                    for c in err.object[err.start:err.end])
    return shown, err.end


def _fail(line, status):
    try:
        sys.stderr.write(f"{PROGRAM}: {line}\n")
        sys.stderr.flush()
    except (OSError, ValueError, AttributeError):
        pass  # no standard error (closed, or None) to tell it on: the status alone says it
    return status


def main(argv=None):
    """Run one subcommand.

    Returns
    -------
    int
        The exit status: 0 clean, 1 findings or differences, 2 unreadable input or bad usage,
        3 an internal error (one line; KAVRO_FIELD_DEBUG=1 shows the traceback).

    Examples
    --------
    >>> main(["info", "/"])
    2
    """
    if argv is None:  # run as a program: matplotlib's cache folder chosen before it is imported
        from .figures import mplcache
        mplcache.prepare_for_command_line()
    # Output cut short by a closed pipe (`| head`) ends the run quietly, as it would a C tool.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    # File names that are not text in the output's encoding are shown escaped, not refused; where
    # the output takes them as bytes (surrogateescape, the C locale) they go out as they are.
    codecs.register_error(_ESCAPE, _escape_unencodable)
    for stream in (sys.stdout, sys.stderr):
        if isinstance(stream, io.TextIOWrapper) and stream.errors != "surrogateescape":
            stream.reconfigure(errors=_ESCAPE)
    try:
        args = parser().parse_args(argv)
        status = args.run(args)
        if sys.stdout is not None:  # None when the process started with it closed
            sys.stdout.flush()
        return status
    except KavroFieldError as err:
        return _fail(err, 2)
    except MemoryError:
        return _fail("out of memory: reading and checking a field file takes about 150 MB; allow more", 3)
    except OSError as err:
        if _stdout_failed(err):
            return _fail(f"standard output: {err.strerror or err}", 2)
        return _internal_error(err)
    except Exception as err:  # anything unforeseen is a fault of the companion, told in one line
        return _internal_error(err)
    except KeyboardInterrupt:
        return _fail("interrupted", 128 + signal.SIGINT)


# Failures of a write: files are read and written through helpers that report their own, so one
# of these that reaches main() comes from standard output (full, or gone).
_WRITE_FAILURES = {errno.EPIPE, errno.ENOSPC, errno.EFBIG, errno.EIO, errno.EDQUOT}


def _stdout_failed(err):
    """Whether `err` is standard output failing; its unwritten rest then goes to the null device
    rather than fail once more, with a traceback, when the interpreter flushes it at exit."""
    if err.errno not in _WRITE_FAILURES:
        return False
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass
    return True


def _internal_error(err):
    if os.environ.get("KAVRO_FIELD_DEBUG") == "1":
        traceback.print_exc()
    message = str(err).replace("\n", " ")
    return _fail(f"internal error: {type(err).__name__}: {message}"
                 " (rerun with KAVRO_FIELD_DEBUG=1 for the traceback)", 3)
