"""The template benchmark: korvel::Renderer (through template_bench) and Jinja2 configured alike,
on the same templates and contexts, in one run; prints a table with the ratios.

Figures:
  korvel        fresh renderer + compile + render per call, as formula rendering does it
  jinja2 fresh  fresh Environment + compile + render per call
  jinja2 warm   render of an already compiled template
  korvel warm   render of a template compiled once (for comparison only: the renderer always
                compiles afresh)
Targets: korvel at least 100x faster than jinja2 fresh and 20x faster than jinja2 warm; mostly
static text at 1 GB/s or more.

Usage: run_bench.py --driver PATH [--seconds S] [--workdir DIR] [--only NAME,...]
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
import time
from pathlib import Path

import jinja2
import markupsafe

HERE = Path(__file__).resolve().parent
TARGET_FRESH = 100.0
TARGET_WARM = 20.0
TARGET_STATIC_GBS = 1.0
BATCHES = 5


# --- Jinja2 configured like the renderer, per escape choice --------------------------------------


def toml_escape(text: str) -> str:
    out = []
    for ch in text:
        code = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch in "\b\t\n\f\r":
            out.append({"\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}[ch])
        elif code < 0x20 or 0x7F <= code <= 0x9F:
            out.append(f"\\u{code:04X}")
        else:
            out.append(ch)
    return "".join(out)


def finalize_toml(value):
    return toml_escape("" if value is None else str(value))


def finalize_json(value):
    # The engine's JSON escaping: JSON text of every printed value, safe strings as they are.
    if isinstance(value, jinja2.Undefined):
        value = None
    if isinstance(value, markupsafe.Markup):
        return value
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def jinja2_settings(escape: str) -> dict:
    settings = dict(
        variable_start_string="{{{",
        variable_end_string="}}}",
        trim_blocks=True,
        lstrip_blocks=True,
        keep_trailing_newline=False,
    )
    if escape == "toml":
        settings["finalize"] = finalize_toml
    elif escape == "json":
        settings["finalize"] = finalize_json
    elif escape == "html":
        settings["autoescape"] = True
    return settings


# --- The cases ------------------------------------------------------------------------------------

LOREM = (
    "Formula authors write most of a template as plain text: headings, explanations, fixed "
    "TOML tables and long descriptions that pass through the renderer untouched.\n"
)


def generate(workdir: Path) -> list[dict]:
    """Writes the generated templates and contexts; returns the manifest."""
    workdir.mkdir(parents=True, exist_ok=True)
    formula_context = HERE / "formula_context.json"

    records = [
        {
            "id": i,
            "name": f"record-{i:04d}",
            "owner": ["ann", "bob", "cy"][i % 3],
            "score": (i * 37) % 101,
            "tags": [f"t{i % 7}", f"u{i % 5}"],
            "active": i % 4 != 0,
        }
        for i in range(2200)
    ]
    big_template = (
        "{% for r in records %}\n"
        "{{{ r.id }}}\t{{{ r.name|upper }}}\t{{{ r.owner|title }}}\t"
        "{{{ 'active' if r.active else 'idle' }}}\t{{{ r.tags|join(',') }}}\t"
        "{{{ '%5.1f'|format(r.score / 10) }}}{% if r.score > 90 %}\t*{% endif %}"
        "\t{{{ loop.index }}}/{{{ loop.length }}}\n"
        "{% endfor %}\n"
    )
    (workdir / "big_output.txt.j2").write_text(big_template)
    (workdir / "big_output.json").write_text(json.dumps({"records": records}))

    loop_template = (
        "{% set ns = namespace(total=0) %}\n"
        "{% for i in range(10000) %}\n"
        "{% set ns.total = ns.total + i %}\n"
        "{{{ i }}}{% if i is divisibleby 3 %} fizz{% endif %}{% if loop.last %} end{% endif %}\n"
        "{% endfor %}\n"
        "total={{{ ns.total }}}\n"
    )
    (workdir / "loop_10k.txt.j2").write_text(loop_template)
    (workdir / "empty.json").write_text("{}")

    # About 1 MB of text with an expression every 64 KB.
    chunk = LOREM * (64 * 1024 // len(LOREM))
    static_template = "".join(
        chunk + "== {{{ title }}} part " + str(i) + " ==\n" for i in range(16)
    )
    (workdir / "static.txt.j2").write_text(static_template)
    (workdir / "static.json").write_text(json.dumps({"title": "Static text"}))

    def case(name, template, context, escape, mode="standard", template_name=None):
        return {
            "name": name,
            "template": str(template),
            "context": str(context),
            "mode": mode,
            "escape": escape,
            "template_name": template_name or Path(template).name,
        }

    return [
        case(
            "formula.toml",
            HERE / "formula.toml.j2",
            formula_context,
            "toml",
            mode="toml",
            template_name="release.formula.toml.j2",
        ),
        case(
            "formula.json",
            HERE / "formula.json.j2",
            formula_context,
            "json",
            template_name="release.formula.json.j2",
        ),
        case("report.html", HERE / "report.html.j2", formula_context, "html"),
        case("big_output", workdir / "big_output.txt.j2", workdir / "big_output.json", "none"),
        case("loop_10k", workdir / "loop_10k.txt.j2", workdir / "empty.json", "none"),
        case("static_1mb", workdir / "static.txt.j2", workdir / "static.json", "none"),
    ]


# One construct each, repeated 10,000 times in a loop: where the engine spends its time
# relative to Jinja2 (the empty loop is the baseline both sides pay).
MICRO = {
    "empty_loop": "",
    "print_int": "{{{ i }}}",
    "print_attr": "{{{ user.name }}}",
    "print_item": "{{{ items[1] }}}",
    "text": "static text ",
    "filter_upper": "{{{ user.name|upper }}}",
    "filter_join": "{{{ items|join(',') }}}",
    "arith": "{{{ i * 2 + 1 }}}",
    "if_compare": "{% if i > 5000 %}x{% endif %}",
    "test_call": "{% if i is divisibleby 3 %}x{% endif %}",
    "set": "{% set x = i + 1 %}",
    "ns_set": "{% set ns.t = ns.t + 1 %}",
    "macro_call": "{{{ m(i) }}}",
    "loop_attrs": "{{{ loop.index }}}{% if loop.last %}.{% endif %}",
    "concat": "{{{ 'a' ~ i }}}",
}


def generate_micro(workdir: Path) -> list[dict]:
    workdir.mkdir(parents=True, exist_ok=True)
    context = workdir / "micro.json"
    context.write_text(json.dumps({"user": {"name": "ada", "age": 36}, "items": [1, 2, 3]}))
    manifest = []
    for name, body in MICRO.items():
        path = workdir / f"micro_{name}.txt.j2"
        path.write_text(
            "{% set ns = namespace(t=0) %}{% macro m(v) %}<{{{ v }}}>{% endmacro %}"
            "{% for i in range(10000) %}" + body + "{% endfor %}"
        )
        manifest.append(
            {
                "name": f"micro_{name}",
                "template": str(path),
                "context": str(context),
                "mode": "standard",
                "escape": "none",
                "template_name": path.name,
            }
        )
    return manifest


# --- Timing ---------------------------------------------------------------------------------------


def best_ns_per_call(fn, seconds: float) -> float:
    fn()
    iterations = 1
    while True:
        start = time.perf_counter_ns()
        for _ in range(iterations):
            fn()
        elapsed = (time.perf_counter_ns() - start) / 1e9
        if elapsed >= seconds / 4:
            iterations = max(1, int(iterations * seconds / max(elapsed, 1e-9)))
            break
        iterations *= 4
    best = float("inf")
    for _ in range(BATCHES):
        start = time.perf_counter_ns()
        for _ in range(iterations):
            fn()
        best = min(best, (time.perf_counter_ns() - start) / iterations)
    return best


def time_jinja2(entry: dict, seconds: float) -> dict:
    source = Path(entry["template"]).read_text()
    context = json.loads(Path(entry["context"]).read_text())
    settings = jinja2_settings(entry["escape"])

    def fresh():
        return jinja2.Environment(**settings).from_string(source).render(context)

    compiled = jinja2.Environment(**settings).from_string(source)
    output = compiled.render(context)
    return {
        "output": output,
        "fresh_ns": best_ns_per_call(fresh, seconds),
        "warm_ns": best_ns_per_call(lambda: compiled.render(context), seconds),
        "output_bytes": len(output.encode()),
    }


def time_korvel(driver: Path, entry: dict, workdir: Path, seconds: float) -> dict:
    """One case at a time, right before Jinja2 times the same case, so that both see the same
    load on the machine."""
    path = workdir / "manifest.json"
    entry = dict(entry, output_path=str(workdir / (entry["name"] + ".korvel.out")))
    path.write_text(json.dumps([entry]))
    proc = subprocess.run([str(driver), str(path), str(seconds)], capture_output=True, text=True)
    if proc.returncode != 0:
        sys.exit(f"template_bench failed ({proc.returncode}): {proc.stderr}")
    answers = [json.loads(line) for line in proc.stdout.splitlines() if line]
    return answers[0] if answers else {"error": "no result"}


# --- Report ---------------------------------------------------------------------------------------


def compare_outputs(entry: dict, workdir: Path, jinja2_output: str) -> str:
    """Whether both engines did the same work: the same text, or for JSON the same data."""
    ours = (workdir / (entry["name"] + ".korvel.out")).read_text(errors="replace")
    if ours == jinja2_output:
        return "identical to Jinja2's"
    if entry["escape"] == "json":
        try:
            if json.loads(ours) == json.loads(jinja2_output):
                return "the same JSON data as Jinja2's"
        except ValueError:
            pass
    if entry["escape"] == "html":
        spelled = {
            "&quot;": "&#34;",
            "&#x27;": "&#39;",
            "&#xa;": "\n",
            "&#x9;": "\t",
            "&#xd;": "\r",
        }
        for renderer_form, jinja2_form in spelled.items():
            ours = ours.replace(renderer_form, jinja2_form)
        if ours == jinja2_output:
            return (
                "Jinja2's but for the references (the renderer writes &quot; &#x27; and "
                "references for tab and line breaks)"
            )
    return f"DIFFERS from Jinja2's ({len(ours)} vs {len(jinja2_output)} characters)"


def fmt_time(ns: float) -> str:
    if ns >= 1e6:
        return f"{ns / 1e6:.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:.1f} us"
    return f"{ns:.0f} ns"


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True, type=Path)
    parser.add_argument("--seconds", type=float, default=0.2, help="time per batch")
    parser.add_argument("--workdir", type=Path, default=HERE.parents[1] / "build" / "bench-data")
    parser.add_argument("--only", default="", help="comma-separated case names")
    parser.add_argument(
        "--micro", action="store_true", help="time single constructs in a 10,000-item loop instead"
    )
    args = parser.parse_args()

    manifest = generate_micro(args.workdir) if args.micro else generate(args.workdir)
    if args.only:
        wanted = set(args.only.split(","))
        manifest = [m for m in manifest if m["name"] in wanted]

    header = (
        f"{'case':<18} {'out KB':>7} {'korvel':>9} {'jinja2 fresh':>12} {'ratio':>7} "
        f"{'jinja2 warm':>11} {'ratio':>6} {'korvel GB/s':>11} {'korvel warm':>11} "
        f"{'ratio':>6}"
    )
    print(
        f"Template benchmark: korvel compile+render per call vs Jinja2 {jinja2.__version__} "
        f"(best of {BATCHES} batches of ~{args.seconds}s)"
    )
    print(header)
    print("-" * len(header))
    shortfalls = []
    for entry in manifest:
        name = entry["name"]
        ours = time_korvel(args.driver, entry, args.workdir, args.seconds)
        theirs = time_jinja2(entry, args.seconds)
        if "error" in ours:
            print(f"{name:<18} korvel failed: {ours['error']}")
            shortfalls.append(f"{name}: korvel failed")
            continue
        ns = ours["ns_per_call"]
        fresh_ratio = theirs["fresh_ns"] / ns
        warm_ratio = theirs["warm_ns"] / ns
        gbs = ours["output_bytes"] / ns  # bytes per ns = GB/s
        warm = ours.get("render_ns_per_call")
        warm_text = (
            f"{fmt_time(warm):>11} {theirs['warm_ns'] / warm:>5.1f}x"
            if warm
            else f"{'-':>11} {'-':>6}"
        )
        print(
            f"{name:<18} {ours['output_bytes'] / 1024:>7.1f} {fmt_time(ns):>9} "
            f"{fmt_time(theirs['fresh_ns']):>12} {fresh_ratio:>6.1f}x "
            f"{fmt_time(theirs['warm_ns']):>11} {warm_ratio:>5.1f}x {gbs:>11.3f} {warm_text}"
        )
        print(f"{'':<18} output: {compare_outputs(entry, args.workdir, theirs['output'])}")
        if fresh_ratio < TARGET_FRESH:
            shortfalls.append(
                f"{name}: {fresh_ratio:.1f}x vs fresh Jinja2 (target {TARGET_FRESH:.0f}x)"
            )
        if warm_ratio < TARGET_WARM:
            shortfalls.append(
                f"{name}: {warm_ratio:.1f}x vs compiled Jinja2 (target {TARGET_WARM:.0f}x)"
            )
        if name.startswith("static") and gbs < TARGET_STATIC_GBS:
            shortfalls.append(f"{name}: {gbs:.2f} GB/s (target {TARGET_STATIC_GBS:.0f} GB/s)")
    print()
    print(
        f"Targets: >= {TARGET_FRESH:.0f}x vs jinja2 fresh, >= {TARGET_WARM:.0f}x vs jinja2 warm, "
        f"static text >= {TARGET_STATIC_GBS:.0f} GB/s."
    )
    for line in shortfalls:
        print(f"  below target: {line}")
    if not shortfalls:
        print("  all targets met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
