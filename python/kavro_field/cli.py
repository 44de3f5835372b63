"""The command line: parses the arguments and hands over to the library."""

import argparse
import codecs
import io
import json
import math
import os
import re
import signal
import sys
import traceback

from ._version import __version__
from .errors import KavroFieldError, StandardOutputError
from .units import LENGTH_UNITS

PROGRAM = "kavro-field"


class _Parser(argparse.ArgumentParser):
    """Bad usage ends with one line on standard error and exit status 2, like a bad file; a negative
    number after an option ("--frequency -7e8", "-inf") is that option's value, for its check to judge."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self._negative_number_matcher = re.compile(r"^-(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$|^-(?i:inf|infinity|nan)$")

    def _print_message(self, message, file=None):
        if message and file is sys.stdout:  # --help, --version
            _write_standard_output(message)
        else:
            super()._print_message(message, file)

    def error(self, message):
        sys.stderr.write(f"{PROGRAM}: {message} (see {PROGRAM} --help)\n")
        sys.exit(2)


def _write_standard_output(text):
    """Write the command's own `text` on standard output; its failure is told as standard output's
    (`StandardOutputError`), the only place that names it."""
    try:
        sys.stdout.write(text)
    except OSError as err:
        raise StandardOutputError(err.strerror or str(err)) from None


def _say(text):
    """Write one line of the command's own text on standard output."""
    _write_standard_output(f"{text}\n")


def _flush_standard_output():
    if sys.stdout is None:  # None when the process started with it closed
        return
    try:
        sys.stdout.flush()
    except OSError as err:
        raise StandardOutputError(err.strerror or str(err)) from None


def _info(args):
    from .fieldfiles.layouts import load
    from .analysis.info import file_info, info_lines
    info = file_info(load(args.file))
    _say(json.dumps(info) if args.json else "\n".join(info_lines(info)))
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
        _say(json.dumps({"file": args.file, "findings": [finding.as_dict() for finding in findings],
                         "notes": notes}))
        return 1 if findings else 0
    for note in notes:
        _say(note)
    for finding in findings:
        _say(render(finding))
    _say(f"{args.file}: {len(findings)} finding{'' if len(findings) == 1 else 's'}" if findings
         else f"{args.file}: no findings")
    return 1 if findings else 0


def _lint(args):
    from .analysis.lint import lint, lint_lines
    report = lint(args.control)
    if args.json:
        data = {key: report[key] for key in ("converter", "control")}
        data["warnings"] = [warning.as_dict() for warning in report["warnings"]]
        _say(json.dumps(data))
    else:
        _say("\n".join(lint_lines(report)))
    return 2 if report["unreadable"] else 1 if report["warnings"] else 0


def _from_control(args, f):
    """Refuse a --control that did not make the file: its numbers would be another element's.
    Returns the control file's trace (None without --control), which the command reads on."""
    if args.control:
        from .analysis.crosscheck import control_mismatch
        return control_mismatch(f, args.control, args.file)
    return None


def _summary(args):
    from .fieldfiles.layouts import load
    from .analysis.axis import summarise_axis, summary_lines
    f = load(args.file)
    control = _from_control(args, f)
    s = summarise_axis(f, args.length_unit, args.field_unit, args.momentum, args.frequency, control,
                       args.kind, args.particle, args.mass, args.charge, args.kinetic_energy)
    _say(json.dumps(s, allow_nan=False) if args.json else "\n".join(summary_lines(s)))
    return 0


def _plot(args):
    from .fieldfiles.layouts import load
    from .figures.plots import PLOT_FORMATS, plot_format, save_plot
    out = args.output or f"{args.file}.png"
    if plot_format(out) is None:
        args.usage(f"-o {out}: the figure is written as {', '.join('.' + s for s in PLOT_FORMATS)};"
                   " the output's suffix names which")
    f = load(args.file)
    units = _units(args, f, _from_control(args, f))
    save_plot(f, out, units.length_unit, units.field_unit, units.kind, units.inputs)
    _say(f"written: {out}")
    _say_units(units)
    return 0


def _say_units(resolved):
    """Where the units came from, when anything states one."""
    if resolved.length_unit or resolved.field_unit or resolved.kind:
        _say(f"units: {resolved.describe()}")


def _units(args, f, control):
    """The units and field kind from the options, the table's header (`control`: the trace of
    --control, or None) and the file, by one rule (`units.resolve_units`); a contradiction is a
    usage error."""
    from .errors import BadUsageError
    from .units import resolve_units
    try:
        return resolve_units(args.length_unit, args.field_unit, args.kind, control, f.kind)
    except BadUsageError as err:
        args.usage(str(err))


def _diff(args):
    from .analysis.diff import compare, difference_lines, header_differences
    from .fieldfiles.layouts import load
    a, b = load(args.a), load(args.b)
    header = header_differences(a, b, args.rtol)
    rows = compare(a, b, args.rtol)
    _say("\n".join(header + difference_lines(a, b, rows)))
    equal = all(row["equal"] for row in rows) and not header
    _say(f"equal within {args.rtol:g}" if equal else f"differ by more than {args.rtol:g}")
    return 0 if equal else 1


def _export(args):
    from .exchange.exports import export_npz, export_vti, stored_half
    from .fieldfiles.layouts import load
    f = load(args.file)
    resolved = _units(args, f, _from_control(args, f))
    kind = resolved.kind
    if args.unfold:
        f = f.unfold()
    if args.frequency is not None and not 0.0 < args.frequency < math.inf:
        args.usage(f"--frequency {args.frequency:g}: a frequency in Hz above 0")
    units = {"length_unit": resolved.length_unit, "field_unit": resolved.field_unit, "kind": kind,
             "frequency": args.frequency}
    if args.openpmd:
        from .exchange.openpmd import export_openpmd
        missing = [option for option, value in (("--length-unit", resolved.length_unit),
                                                ("--field-unit", resolved.field_unit)) if value is None]
        if kind is None:
            missing.append(f"--kind E|B or --control (layout {f.layout} does not say whether it holds E or B)")
        if missing:
            args.usage(f"export --openpmd writes SI values and needs {', '.join(missing)}; nothing written")
        export_openpmd(f, args.openpmd, **units)
    elif args.npz:
        export_npz(f, args.npz, **units)
    else:
        export_vti(f, args.vtk, **units)
    _say(f"written: {args.npz or args.vtk or args.openpmd}")
    _say_units(resolved)
    if f.unfolding is not None:
        _say(f.unfolding.describe(kind))
    half = stored_half(f)
    if half:
        _say(half + ("" if args.unfold else " (or export with --unfold)"))
    return 0


def _import(args):
    from .exchange.openpmd_import import import_openpmd, read_control_grid
    if args.control:
        if any(value is not None for value in (args.d_elm, args.aper, args.ksym, args.kfile_num, args.layout)):
            args.usage("--control gives the grid and the file: --d-elm, --aper, --ksym, --kfile-num and --layout"
                       " go without it")
        grid = read_control_grid(args.control)
    else:
        missing = [option for option, value in (("--d-elm", args.d_elm), ("--aper", args.aper)) if value is None]
        if missing:
            args.usage(f"import needs {' and '.join(missing)} (or --control CONTROL); nothing written")
        grid = {"d_elm": args.d_elm, "aper": args.aper, "ksym": tuple(args.ksym or (0, 0, 0)),
                "kfile_num": 1 if args.kfile_num is None else args.kfile_num,
                "layout": 0 if args.layout is None else args.layout}
    for name in ("d_elm", "aper"):
        if not 0.0 < grid[name] < math.inf:
            args.usage(f"{name} {grid[name]:g}: a length above 0")
    if args.phase is not None and not math.isfinite(args.phase):
        args.usage(f"--phase {args.phase:g}: a phase in degrees")
    try:
        result = import_openpmd(args.file, mesh=args.mesh, kind=args.kind, phase=args.phase,
                                length_unit=args.length_unit, field_unit=args.field_unit, output_dir=args.output,
                                outside=args.outside, **grid)
    except KavroFieldError:
        raise
    except ValueError as err:  # the options, not the file
        args.usage(str(err))
    for warning in result.warnings:
        _say(f"warning: {warning}")
    _say(f"written: {result.path} (layout {result.layout}, {result.kind} field, from the {result.geometry} mesh"
          f" {result.mesh})")
    return 0


def _unit_options(command):
    """The units of a file's numbers, which it does not state, and its field kind."""
    from .units import FIELD_UNITS
    command.add_argument("--length-unit", choices=list(LENGTH_UNITS),
                         help="length unit of the table (default: the table's header, with --control)")
    command.add_argument("--field-unit", choices=list(FIELD_UNITS),
                         help="field unit of the table times its scale (default: the table's header, with --control)")
    command.add_argument("--kind", choices=("E", "B"), help="field kind, where neither the layout nor a unit says it")


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
                         help="control file of the conversion (or its folder): the units of its table's header, its"
                              " field kind, and the table's on-axis numbers beside")
    _unit_options(summary)
    from .analysis.particles import PARTICLES
    summary.add_argument("--particle", choices=list(PARTICLES), help="the particle of the optics")
    summary.add_argument("--mass", type=float, metavar="M", help="MeV/c^2, with --charge: a particle not listed")
    summary.add_argument("--charge", type=float, metavar="Q", help="units of e, with --mass")
    energy = summary.add_mutually_exclusive_group()
    energy.add_argument("--momentum", type=float, metavar="P",
                        help="MeV/c: first-order optics (for B alone: a charge of +1 e)")
    energy.add_argument("--kinetic-energy", type=float, metavar="T", help="MeV: first-order optics")
    summary.add_argument("--frequency", type=float, metavar="F", help="Hz, for an RF amplitude E: transit-time factor")
    summary.add_argument("--json", action="store_true", help="one JSON object")
    summary.set_defaults(run=_summary)

    plot = sub.add_parser("plot", help="one figure: on-axis field, transverse profile, slices, the table's map")
    plot.add_argument("file")
    plot.add_argument("-o", "--output", metavar="OUT.png",
                      help="the figure; its suffix names the format: .png, .pdf or .svg (default: FILE.png)")
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
    export.add_argument("--unfold", action="store_true",
                        help="a file with ksym flags: the whole element, the stored half and its mirror image")
    export.set_defaults(run=_export, usage=export.error)

    imp = sub.add_parser("import", help="a field file from an openPMD external field mesh (HDF5)")
    imp.add_argument("file", metavar="MAP.h5")
    imp.add_argument("--mesh", metavar="NAME", help="the mesh, where externalFieldPath holds several")
    imp.add_argument("--kind", choices=("E", "B"), help="the field, where the mesh holds both")
    imp.add_argument("--phase", type=float, metavar="DEG", help="degrees: the phase of an oscillating field")
    imp.add_argument("--length-unit", choices=list(LENGTH_UNITS), required=True, help="length unit of the output")
    imp.add_argument("--field-unit", choices=list(FIELD_UNITS), required=True, help="field unit of the output")
    imp.add_argument("--control", metavar="CONTROL",
                     help="control file (or its folder): kfile_num, kform_3D, ksym, d_elm, aper")
    imp.add_argument("--d-elm", type=float, metavar="L", help="element length, in the length unit")
    imp.add_argument("--aper", type=float, metavar="A", help="aperture, in the length unit")
    imp.add_argument("--ksym", type=int, nargs=3, metavar=("X", "Y", "Z"),
                     help="symmetry flags: a flagged axis holds its half from 0 (default 0 0 0)")
    imp.add_argument("--kfile-num", type=int, metavar="N", help="the output is eh_EMS.#NN (default 1)")
    imp.add_argument("--layout", type=int, choices=(0, 1, 2), help="0 binary, 1 or 2 text (default 0)")
    imp.add_argument("--output", default=".", metavar="DIR", help="the output's folder (default: .)")
    imp.add_argument("--outside", choices=("refuse", "zero"), default="refuse",
                     help="a node outside a rectangular mesh refuses the import, or gets zero (default refuse)")
    imp.set_defaults(run=_import, usage=imp.error)
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
        try:
            args = parser().parse_args(argv)
            status = args.run(args)
        except SystemExit:  # --help, --version, bad usage: their text flushed here too
            _flush_standard_output()
            raise
        _flush_standard_output()
        return status
    except StandardOutputError as err:
        _discard_standard_output()
        return _fail(err, 2)
    except KavroFieldError as err:
        return _fail(err, 2)
    except MemoryError:
        return _fail("out of memory: reading and checking a field file takes about 150 MB; allow more", 3)
    except Exception as err:  # anything unforeseen is a fault of the companion, told in one line
        return _internal_error(err)
    except KeyboardInterrupt:
        return _fail("interrupted", 128 + signal.SIGINT)


def _discard_standard_output():
    """Standard output's unwritten rest goes to the null device rather than fail once more, with a
    traceback, when the interpreter flushes it at exit."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError, AttributeError):
        pass


def _internal_error(err):
    if os.environ.get("KAVRO_FIELD_DEBUG") == "1":
        traceback.print_exc()
    message = str(err).replace("\n", " ")
    return _fail(f"internal error: {type(err).__name__}: {message}"
                 " (rerun with KAVRO_FIELD_DEBUG=1 for the traceback)", 3)
