"""Side-by-side figures for the process runner. Each round runs runner_bench once (StdProcessRunner
and the plain C posix_spawn loop, alternating run by run) and then Python's
subprocess.run(capture_output=True) as often on the same commands; the medians over all rounds and
their ratios are printed."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time


def time_subprocess(argv, expected_bytes, runs):
    times = []
    for _ in range(runs):
        t0 = time.perf_counter_ns()
        done = subprocess.run(argv, capture_output=True)
        t1 = time.perf_counter_ns()
        if done.returncode != 0 or len(done.stdout) != expected_bytes:
            sys.exit(f"run_bench: unexpected result from subprocess.run {argv}")
        times.append(t1 - t0)
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--per-round", type=int, default=20)
    args = parser.parse_args()

    true_path = shutil.which("true") or "/bin/true"
    head_path = shutil.which("head") or "/usr/bin/head"
    env = dict(os.environ, KORVEL_BENCH_TRUE=true_path, KORVEL_BENCH_HEAD=head_path)
    commands = {
        "true": ([true_path], 0),
        "print_64k": ([head_path, "-c", "65536", "/dev/zero"], 65536),
    }
    samples = {case: {} for case in commands}
    for _ in range(args.rounds):
        out = subprocess.run(
            [args.driver, "--runs", str(args.per_round)],
            capture_output=True,
            text=True,
            env=env,
            check=True,
        ).stdout
        for line in out.splitlines():
            case, runner, *times = line.split()
            samples[case].setdefault(runner, []).extend(int(t) for t in times)
        for case, (argv, expected) in commands.items():
            samples[case].setdefault("subprocess.run", []).extend(
                time_subprocess(argv, expected, args.per_round)
            )

    runs = args.rounds * args.per_round
    print(
        f"process runner benchmark: median microseconds per run, {runs} runs each "
        f"(interleaved in {args.rounds} rounds)"
    )
    names = ["StdProcessRunner", "c_posix_spawn", "subprocess.run"]
    print(f"{'case':<10}" + "".join(f"{n:>18}" for n in names) + f"{'ours/C':>9}{'ours/py':>9}")
    for case, by_runner in samples.items():
        med = [statistics.median(by_runner[n]) for n in names]
        cells = "".join(f"{m / 1000:>18.1f}" for m in med)
        print(f"{case:<10}{cells}{med[0] / med[1]:>9.2f}{med[0] / med[2]:>9.2f}")
    print("ratios of medians; targets: ours/C <= 1.30, ours/py <= 1.00")


if __name__ == "__main__":
    main()
