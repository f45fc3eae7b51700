"""The korvel-beads command line: render, validate, preview or pour a Beads formula.

Exit status: 0 when the receipt succeeded, 1 when a stage failed, 2 when the request was refused
(the error's code and message go to standard error) or the command line itself was wrong.
"""

from __future__ import annotations

import argparse
import json
import os
import shlex
import sys
from collections.abc import Sequence
from typing import Any, TextIO

from korvel_beads import _native

EXIT_SUCCEEDED = 0
EXIT_FAILED = 1
EXIT_REFUSED = 2

_FORMULA_SUFFIXES = (".formula.toml", ".formula.json")

_OPERATIONS = {
    "render": _native.render,
    "validate": _native.validate,
    "preview-pour": _native.preview_pour,
    "pour": _native.pour,
}

_DESCRIPTIONS = {
    "render": "Render the template into the formula file. Runs no bd command.",
    "validate": "Render, then check the formula with `bd cook FORMULA --dry-run --json`.",
    "preview-pour": (
        "Render, validate, resolve the active Beads registry with `bd where --json` (the formula "
        "must be FORMULAS_DIR/NAME.formula.toml or .json there), then preview the pour with "
        "`bd mol pour NAME --dry-run --json`. Creates nothing in Beads."
    ),
    "pour": (
        "As preview-pour, but runs `bd mol pour NAME --json`, which creates persistent beads. "
        "Refused unless --authorize-pour is given."
    ),
}

_SUMMARIES = {
    "render": "render the template into the formula file",
    "validate": "render, then check the formula with bd cook --dry-run",
    "preview-pour": "render, validate, resolve the registry, preview the pour (creates nothing)",
    "pour": "as preview-pour, but pour persistently (needs --authorize-pour)",
}

_EXAMPLES = """\
examples:
  # render a formula from a template and a JSON file of variables
  korvel-beads render --variables vars.json release.formula.toml.j2 out/release.formula.toml

  # override one variable (the value is JSON: quote strings) and check the result with bd
  korvel-beads validate --variables vars.json --set version='"1.4.0"' \\
      release.formula.toml.j2 out/release.formula.toml

  # preview a pour into the active registry, with a Beads variable, as JSON for a CI job
  korvel-beads preview-pour -C ~/project --var assignee=ci --json \\
      templates/release.formula.toml.j2 .beads/formulas/release.formula.toml

  # pour for real (creates persistent beads)
  korvel-beads pour --authorize-pour --formula-name release \\
      templates/release.formula.toml.j2 .beads/formulas/release.formula.toml

exit status: 0 receipt succeeded, 1 a stage failed, 2 request refused or bad command line
"""


class UsageError(Exception):
    """A command-line value that cannot be used (exit status 2)."""


def _key_value(text: str, option: str) -> tuple[str, str]:
    key, separator, value = text.partition("=")
    if not separator:
        raise UsageError(f"{option} expects KEY=VALUE, got {text!r}")
    return key, value


def _compose_variables(variables_file: str | None, settings: Sequence[str]) -> dict[str, Any]:
    variables: dict[str, Any] = {}
    if variables_file is not None:
        try:
            with open(variables_file, encoding="utf-8") as handle:
                loaded = json.load(handle)
        except OSError as failure:
            raise UsageError(f"cannot read --variables file: {failure}") from failure
        except ValueError as failure:
            raise UsageError(
                f"--variables file {variables_file} is not JSON: {failure}"
            ) from failure
        if not isinstance(loaded, dict):
            raise UsageError(f"--variables file {variables_file} must hold a JSON object")
        variables.update(loaded)
    for setting in settings:
        key, text = _key_value(setting, "--set")
        try:
            variables[key] = json.loads(text)
        except ValueError as failure:
            raise UsageError(
                f"--set {key}: the value must be JSON (quote strings: {key}='\"text\"'): {failure}"
            ) from failure
    return variables


def _default_formula_name(output: str) -> str | None:
    name = os.path.basename(output)
    for suffix in _FORMULA_SUFFIXES:
        if name.endswith(suffix) and len(name) > len(suffix):
            return name[: -len(suffix)]
    return None


def build_request(arguments: argparse.Namespace) -> _native.BeadComposeRequest:
    """The request that the parsed command line describes."""
    bead_variables = dict(_key_value(item, "--var") for item in arguments.var)
    formula_name = arguments.formula_name
    if formula_name is None and arguments.command in ("preview-pour", "pour"):
        formula_name = _default_formula_name(arguments.output)
    authorize = getattr(arguments, "authorize_pour", False)
    # Like `make -C`, the template and the output are named relative to the working directory
    # (absolute paths stay as they are); this also gives a bare output file name its directory.
    working_directory = arguments.working_directory
    return _native.BeadComposeRequest(
        working_directory,
        os.path.join(working_directory, arguments.template),
        os.path.join(working_directory, arguments.output),
        _compose_variables(arguments.variables, arguments.set),
        operation=arguments.command.replace("-", "_"),
        formula_name=formula_name,
        bead_variables=bead_variables,
        bd_executable=arguments.bd,
        pour_authorization=(
            _native.PourAuthorization.CREATE_PERSISTENT_BEADS if authorize else None
        ),
    )


def receipt_to_dict(receipt: _native.BeadComposeReceipt) -> dict[str, Any]:
    """The receipt as plain JSON-ready values."""
    return {
        "schema": receipt.schema,
        "operation": receipt.operation,
        "rendered_formula": receipt.rendered_formula,
        "stages": [
            {
                "stage": stage.stage,
                "argv": stage.argv,
                "exit_status": stage.exit_status,
                "elapsed_ms": stage.elapsed_ms,
                "stdout_excerpt": stage.stdout_excerpt,
                "stderr_excerpt": stage.stderr_excerpt,
                "outcome": {"kind": stage.outcome.kind, "code": stage.outcome.code},
            }
            for stage in receipt.stages
        ],
        "outcome": {"kind": receipt.outcome.kind, "code": receipt.outcome.code},
    }


def _indented(text: str) -> str:
    return "".join(f"    {line}\n" for line in text.splitlines()) or "    (empty)\n"


def format_receipt(receipt: _native.BeadComposeReceipt) -> str:
    """The receipt for people: every stage, and the output of a failed one."""
    lines = [f"{receipt.operation}: {receipt.rendered_formula}\n"]
    for stage in receipt.stages:
        outcome = stage.outcome
        status = outcome.kind if outcome.code is None else f"{outcome.kind} {outcome.code}"
        lines.append(f"  {stage.stage}: {status} in {stage.elapsed_ms} ms\n")
        if stage.argv:
            lines.append(f"    command: {shlex.join(stage.argv)}\n")
            status_text = "none (ended by a signal)"
            if stage.exit_status is not None:
                status_text = str(stage.exit_status)
            lines.append(f"    exit status: {status_text}\n")
        if outcome.kind == "failed" and stage.argv:
            lines.append("    standard output:\n" + _indented(stage.stdout_excerpt))
            lines.append("    standard error:\n" + _indented(stage.stderr_excerpt))
    overall = receipt.outcome
    lines.append(
        f"outcome: {overall.kind}" + ("" if overall.code is None else f" {overall.code}") + "\n"
    )
    return "".join(lines)


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="korvel-beads",
        description=(
            "Compose a Beads formula: render a formula template (delimiters {{{ and }}}, "
            "escaping chosen from the template's file name) into the formula file, then drive bd."
        ),
        epilog=_EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    for command, description in _DESCRIPTIONS.items():
        sub = commands.add_parser(
            command,
            help=_SUMMARIES[command],
            description=description,
            epilog=_EXAMPLES,
            formatter_class=argparse.RawDescriptionHelpFormatter,
        )
        sub.add_argument(
            "template",
            help="the formula template inside the working directory, relative to it "
            "(e.g. x.formula.toml.j2)",
        )
        sub.add_argument(
            "output",
            help="the formula file to write, relative to the working directory; its name ends "
            "in .formula.toml or .formula.json (e.g. out/x.formula.toml)",
        )
        sub.add_argument(
            "-C",
            "--working-directory",
            default=os.curdir,
            metavar="DIR",
            help="the directory that holds the template and in which bd runs; TEMPLATE and "
            "OUTPUT are relative to it (default: the current directory; e.g. -C ~/project)",
        )
        sub.add_argument(
            "--variables",
            metavar="FILE",
            help="a JSON file holding an object: the template's variables, relative to the "
            "current directory (e.g. vars.json)",
        )
        sub.add_argument(
            "--set",
            action="append",
            default=[],
            metavar="KEY=JSON",
            help="set one template variable to a JSON value, after --variables; repeatable "
            "(e.g. --set version='\"1.4\"' --set steps='[1,2]')",
        )
        sub.add_argument(
            "--var",
            action="append",
            default=[],
            metavar="KEY=VALUE",
            help="a Beads variable, passed to bd as --var KEY=VALUE; repeatable "
            "(e.g. --var assignee=ci)",
        )
        sub.add_argument(
            "--formula-name",
            metavar="NAME",
            help="the Beads formula name for preview-pour and pour (default: the output's file "
            "name without .formula.toml/.formula.json; e.g. --formula-name release)",
        )
        sub.add_argument(
            "--bd",
            metavar="PATH",
            help="the bd executable (default: bd, found on PATH; e.g. --bd /opt/beads/bin/bd)",
        )
        sub.add_argument(
            "--json",
            action="store_true",
            help="print the receipt (or the refusal) as JSON on standard output "
            "(e.g. --json | jq .outcome.kind)",
        )
        if command == "pour":
            sub.add_argument(
                "--authorize-pour",
                action="store_true",
                help="allow the pour to create persistent beads; pour refuses to run without it "
                "(e.g. pour --authorize-pour ...)",
            )
    return parser


def main(
    argv: Sequence[str] | None = None, stdout: TextIO | None = None, stderr: TextIO | None = None
) -> int:
    """Runs the command line and returns its exit status."""
    out = sys.stdout if stdout is None else stdout
    err = sys.stderr if stderr is None else stderr
    arguments = _parser().parse_args(argv)
    try:
        request = build_request(arguments)
        receipt = _OPERATIONS[arguments.command](request)
    except UsageError as failure:
        err.write(f"korvel-beads: error: {failure}\n")
        return EXIT_REFUSED
    except _native.BeadComposeError as failure:
        err.write(f"{failure.code}: {failure.message}\n")
        if arguments.json:
            refusal = {"code": failure.code, "message": failure.message, "stage": failure.stage}
            out.write(json.dumps({"error": refusal}, indent=2) + "\n")
        return EXIT_REFUSED
    if arguments.json:
        out.write(json.dumps(receipt_to_dict(receipt), indent=2) + "\n")
    else:
        out.write(format_receipt(receipt))
    return EXIT_SUCCEEDED if receipt.outcome.kind == "succeeded" else EXIT_FAILED


if __name__ == "__main__":
    sys.exit(main())
