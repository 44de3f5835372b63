"""`summary` against fields whose on-axis integrals are known in closed form."""

import json
import math

import pytest

import analytic
from kavro_field.cli import main
from kavro_field.analysis.axis import SPEED_OF_LIGHT

_GAUSS_INTEGRAL = analytic.GAUSS_B0 * analytic.GAUSS_SIGMA * math.sqrt(2 * math.pi) * math.erf(5 / math.sqrt(2))
_GAUSS_SQUARE = analytic.GAUSS_B0 ** 2 * analytic.GAUSS_SIGMA * math.sqrt(math.pi) * math.erf(5)
_PILLBOX = analytic.FIELDS["pillbox"]
_GAP = _PILLBOX.d_elm * 1e-2  # m: the grid's length, over which the amplitude is uniform
_E0 = 2.5 * _PILLBOX.scale
_B_RHO = 100.0 * 1e6 / SPEED_OF_LIGHT


def _transit(beta, frequency=3e9):
    x = math.pi * frequency * _GAP / (beta * SPEED_OF_LIGHT)
    return math.sin(x) / x


# field, options, {json path: exact value}, relative tolerance (the conversion's approximation).
CASES = [
    ("gaussian", ["--length-unit", "cm", "--field-unit", "T", "--momentum", "100"],
     {"axis.peak": analytic.GAUSS_B0, "axis.peak_z": 0.0, "axis.integral": _GAUSS_INTEGRAL,
      "axis.integral_square": _GAUSS_SQUARE, "axis.effective_length": _GAUSS_INTEGRAL ** 2 / _GAUSS_SQUARE,
      "axis.hard_edge_field": _GAUSS_SQUARE / _GAUSS_INTEGRAL,
      "si.inverse_focal_length": _GAUSS_SQUARE * 1e-2 / (2 * _B_RHO) ** 2,
      "si.larmor_angle": _GAUSS_INTEGRAL * 1e-2 / (2 * _B_RHO)}, 1e-6),
    ("pillbox", ["--length-unit", "cm", "--field-unit", "V/m"],
     {"axis.integral": _E0 * _PILLBOX.d_elm, "axis.effective_length": _PILLBOX.d_elm, "axis.hard_edge_field": _E0,
      "axis.end_share_lower": 1.0, "si.voltage": _E0 * _GAP}, 1e-12),
    ("pillbox", ["--length-unit", "cm", "--field-unit", "V/m", "--frequency", "3e9"],
     {"si.T_beta_1": _transit(1.0), "si.T.0.5": _transit(0.5), "si.T.0.8": _transit(0.8),
      "si.voltage_beta_1": _E0 * _GAP * _transit(1.0), "si.beta_of_largest_T": 1.0}, 1e-6),
]


def _get(tree, path):
    for key in _keys(path):
        tree = tree[key]
    return tree


def _keys(path):
    """'si.T.0.5' -> ['si', 'T', '0.5']: a number's point is part of its key."""
    parts = path.split(".")
    keys = []
    for part in parts:
        if keys and keys[-1].isdigit() and part.isdigit():
            keys[-1] += "." + part
        else:
            keys.append(part)
    return keys


@pytest.mark.parametrize("name, options, exact, rtol", CASES)
def test_summary_matches_the_closed_form(conversion, capsys, name, options, exact, rtol):
    assert main(["summary", conversion(name), "--json", *options]) == 0
    summary = json.loads(capsys.readouterr().out)
    for path, value in exact.items():
        assert _get(summary, path) == pytest.approx(value, rel=rtol, abs=rtol * 1e-3), path


def test_table_column_beside_the_file(conversion, capsys):
    path = conversion("gaussian")
    assert main(["summary", path, "--control", path.rsplit("/", 1)[0], "--json"]) == 0
    summary = json.loads(capsys.readouterr().out)
    assert summary["control"]["iflag_EH"] == 1
    assert max(summary["relative_difference"][key] for key in ("peak", "integral", "integral_square")) < 1e-6
