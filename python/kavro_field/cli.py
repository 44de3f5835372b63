"""The command line: parses the arguments and hands over to the library."""

import argparse
import json
import signal
import sys

from ._version import __version__
from .errors import FieldFileError

PROGRAM = "kavro-field"


class _Parser(argparse.ArgumentParser):
    """Bad usage ends with one line on standard error and exit status 2, like a bad file."""

    def error(self, message):
        sys.stderr.write(f"{PROGRAM}: {message} (see {PROGRAM} --help)\n")
        sys.exit(2)


def _info(args):
    from .layouts import load
    from .summary import summarise, summary_lines
    summary = summarise(load(args.file))
    print(json.dumps(summary) if args.json else "\n".join(summary_lines(summary)))
    return 0


def _check(args):
    from .checks import check_file
    from .layouts import load
    f = load(args.file)
    notes = []
    if args.control:
        from .crosscheck import check_with_control
        findings, notes = check_with_control(f, args.control)
    else:
        findings = check_file(f)
    for note in notes:
        print(note)
    for finding in findings:
        print(finding)
    print(f"{args.file}: {len(findings)} finding{'' if len(findings) == 1 else 's'}" if findings
          else f"{args.file}: no findings")
    return 1 if findings else 0


def _lint(args):
    from .lint import lint
    report = lint(args.control)
    if args.json:
        print(json.dumps({key: report[key] for key in ("converter", "control", "warnings")}))
    else:
        print("\n".join(report["lines"]))
    return 2 if report["unreadable"] else 1 if report["warnings"] else 0


def _summary(args):
    from .layouts import load
    from .physics import summarise_axis, summary_lines
    s = summarise_axis(load(args.file), args.length_unit, args.field_unit, args.momentum, args.frequency, args.control)
    print(json.dumps(s) if args.json else "\n".join(summary_lines(s)))
    return 0


def _plot(args):
    from .layouts import load
    from .plots import save_plot
    out = args.output or f"{args.file}.png"
    save_plot(load(args.file), out, args.unit)
    print(f"written: {out}")
    return 0


def _diff(args):
    from .diff import compare, difference_lines
    from .layouts import load
    a, b = load(args.a), load(args.b)
    rows, grids_differ = compare(a, b, args.rtol)
    print("\n".join(difference_lines(a, b, rows, grids_differ)))
    equal = all(row["equal"] for row in rows) and not grids_differ
    print(f"equal within {args.rtol:g}" if equal else f"differ by more than {args.rtol:g}")
    return 0 if equal else 1


def _export(args):
    from .exports import export_npz, export_vti
    from .layouts import load
    f = load(args.file)
    if args.npz:
        export_npz(f, args.npz)
    if args.vtk:
        export_vti(f, args.vtk)
    print(f"written: {args.npz or args.vtk}")
    return 0


def parser():
    """The argument parser of all subcommands."""
    from .diff import DEFAULT_RTOL
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
    check.set_defaults(run=_check)

    lint = sub.add_parser("lint", help="what the converter will make of a control file and its table; exit 1 with"
                                       " warnings")
    lint.add_argument("control", nargs="?", default=".", metavar="CONTROL",
                      help="control file or the folder holding poisson_to_kavro.dat (default: .)")
    lint.add_argument("--json", action="store_true", help="one JSON object")
    lint.set_defaults(run=_lint)

    from .physics import FIELD_UNITS, LENGTH_UNITS
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

    plot = sub.add_parser("plot", help="one figure: on-axis field, transverse profile, slices")
    plot.add_argument("file")
    plot.add_argument("-o", "--output", metavar="OUT.png", help="default: FILE.png")
    plot.add_argument("--unit", default="length unit of the table", help="length unit for the axis labels")
    plot.set_defaults(run=_plot)

    diff = sub.add_parser("diff", help="largest differences per component; exit 1 when they differ")
    diff.add_argument("a")
    diff.add_argument("b")
    diff.add_argument("--rtol", type=float, default=DEFAULT_RTOL,
                      help=f"tolerance relative to each component's largest |value| (default {DEFAULT_RTOL:g})")
    diff.set_defaults(run=_diff)

    export = sub.add_parser("export", help="NumPy archive or VTK image data")
    export.add_argument("file")
    target = export.add_mutually_exclusive_group(required=True)
    target.add_argument("--npz", metavar="OUT.npz")
    target.add_argument("--vtk", metavar="OUT.vti")
    export.set_defaults(run=_export)
    return top


def main(argv=None):
    """Run one subcommand; the exit status is 0, 1 (findings, differences) or 2 (unreadable, bad usage)."""
    # Output cut short by a closed pipe (`| head`) ends the run quietly, as it would a C tool.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    args = parser().parse_args(argv)
    try:
        return args.run(args)
    except FieldFileError as err:
        sys.stderr.write(f"{PROGRAM}: {err}\n")
        return 2
