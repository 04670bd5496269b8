#!/usr/bin/env python3
"""Random real-time runs of kestrel-cli against kestrel-handset-sim.

Each run draws, from its own seed, an image, a download type, a line speed and a scenario
of handset faults, flashes through a pseudo-terminal and checks what must hold whatever the
handset did: the tool ends by itself and reports one end that matches its exit code, a
completed run leaves the image in the flash, the handset saw no protocol violation from the
tool, and the simulator stops when told.

    scripts/soak-realtime.py --runs 60 --jobs 2        # a random series
    scripts/soak-realtime.py --replay 123456789        # one run again, verbose
"""
import argparse
import concurrent.futures
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import Counter
from dataclasses import dataclass, field
from pathlib import Path

KIB = 1024
COMPARE_BLOCK = 0x20000
DEFAULT_FONT_ADDRESS = 0xE00000
FLASH_SIZE = 16 * 1024 * KIB          # the simulator's default
CLI_BOUND_S = 120
SIM_START_S = 5
SIM_STOP_S = 10
TAIL_LINES = 20

TYPES = ["NORMAL", "EMERGENCY", "FONT(NORMAL)", "FONT(EMRGENCY)", "CHANGE(NORMAL)", "CHANGE(EMERGENCY)",
         "COMPARE(EMERGENCY)"]
MODE_SWITCH_TYPES = {"NORMAL", "FONT(NORMAL)", "CHANGE(NORMAL)"}
RESULT_EXIT = {"completed": {0}, "nothing-to-do": {0}, "stopped": {130}, "error": {3, 4, 5}, "no-response": {6}}

# Actions that answer at once may fire on every occurrence; delays and unplugs on every
# occurrence would only measure how long the tool takes to give up.
INSTANT_ACTIONS = ["drop", "code", "params", "nak-bad-crc", "nak-model", "nak-invalid", "nak-failed", "garbage"]
ACTION_WEIGHTS = {"drop": 4, "late": 4, "code": 2, "params": 3, "nak-bad-crc": 2, "nak-model": 2, "nak-invalid": 1,
                  "nak-failed": 1, "garbage": 2, "split": 2, "unplug": 1, "reenumerate": 2}
AT_ACTIONS = ["drop", "late", "garbage", "unplug"]
# The tool gives the erase 500 s to answer, as a large flash may need: a lost erase reply
# would hold a run far beyond the time bound without telling anything about the tool.
# Garbage in front of a reply in the same burst loses the reply as well.
ERASE_REPLY_LOST = {"drop", "split", "garbage"}
OCCURRENCE_LIMIT = {"at": 1, "start": 3, "jump": 2, "erase": 2, "retry": 2}


@dataclass
class Plan:
    seed: int
    asked: str
    runs_as: str
    baud: int
    yes: bool
    image: bytes
    old: bytes | None
    font_address: str | None            # as given on the command line
    checked: list[tuple[int, int]]      # (start, end) of image bytes a completed run must leave at base + start
    base: int                           # flash address of image offset 0
    rules: list[str]


@dataclass
class Outcome:
    exit_code: int | None = None
    result: str = "-"
    seconds: float = 0.0
    violations: list[str] = field(default_factory=list)
    cli_output: str = ""
    sim_output: str = ""
    transcript: list[str] = field(default_factory=list)
    workdir: str = ""


# ---- drawing a run ---------------------------------------------------------------------

def runs_as(asked: str, boot: bool) -> str:
    """The type the image loader makes of the asked one (README, Command line)."""
    if boot:
        return "CHANGE(EMERGENCY)" if asked in TYPES[:4] else asked
    return asked if asked.startswith("FONT") else "FONT(EMRGENCY)"


def stamped_image(rng: random.Random, size: int, boot: bool) -> bytearray:
    """Random content with the build date and version where the loader reads them, as the
    end-to-end fixture lays them out; without the boot marker it is a font image."""
    image = bytearray(rng.randbytes(size))
    image[0x20:0x33] = b"Mar 15 200714:22:05"
    image[0x34:0x3B] = b"12 BOOT" if boot else b"12 FONT"
    if size >= 0x20028:
        image[0x20024:0x20028] = b"\xff" * 4
    return image


def outside_stamps(rng: random.Random, start: int, end: int) -> int:
    """A byte position in [start, end) that changes neither the marker nor the version."""
    while True:
        pos = rng.randrange(start, end)
        if pos >= 0x40 and not 0x20024 <= pos < 0x20028:
            return pos


def compare_images(rng: random.Random) -> tuple[bytes, bytes, list[tuple[int, int]]]:
    """New and old images of 2-3 x 128 KiB differing in one or two 128 KiB blocks, and the
    ranges the tool rewrites (a fresh handset holds nothing else of the new image)."""
    count = rng.choice([2, 3])
    size = count * COMPARE_BLOCK - (rng.randint(1, 2047) if rng.random() < 0.4 else 0)
    old = stamped_image(rng, size, True)
    new = bytearray(old)
    differing = sorted(rng.sample(range(count), rng.choice([1, 2])))
    for k in differing:
        start, end = k * COMPARE_BLOCK, min((k + 1) * COMPARE_BLOCK, size)
        for _ in range(rng.randint(1, 3)):
            new[outside_stamps(rng, start, end)] ^= rng.randint(1, 255)
    checked = [(k * COMPARE_BLOCK, min((k + 1) * COMPARE_BLOCK, size)) for k in differing]
    return bytes(new), bytes(old), checked


def image_size(rng: random.Random) -> int:
    if rng.random() < 0.5:
        return rng.randint(1, 48) * KIB
    return rng.randint(KIB, 48 * KIB)


def wants_boot_image(rng: random.Random, asked: str) -> bool:
    if asked.startswith("FONT"):
        return False
    if asked == "EMERGENCY":
        return rng.random() < 0.5
    if asked == "NORMAL":
        return rng.random() < 0.85
    return True


def font_address(rng: random.Random, length: int) -> tuple[str | None, int]:
    """The --font-address text (None: the tool's default) and the address it means."""
    choice = rng.random()
    if choice < 0.3:
        return None, DEFAULT_FONT_ADDRESS
    address = 0 if choice < 0.45 else rng.randrange(0, FLASH_SIZE - length - KIB, KIB)
    return (f"0x{address:X}" if rng.random() < 0.5 else f"{address:x}"), address


def action_text(rng: random.Random, action: str) -> str:
    def hexbytes(n: int) -> str:
        return " ".join(f"{rng.randrange(256):02x}" for _ in range(n))
    if action == "late":
        return f"late {rng.randint(0, 3500)}"
    if action == "code":
        return f"code {hexbytes(1)}"
    if action == "params":
        return f"params {hexbytes(2)}"
    if action.startswith("nak-"):
        return action + (f" {hexbytes(2)}" if rng.random() < 0.4 else "")
    if action == "garbage":
        garbage = hexbytes(rng.randint(1, 8))
        return "garbage " + (garbage + " 7e" if rng.random() < 0.3 else garbage)
    if action == "split":
        return f"split {rng.randint(0, 100)}"
    if action == "unplug":
        return "unplug" if rng.random() < 0.4 else f"unplug {rng.randint(0, 3000)}"
    return action


def scenario_rule(rng: random.Random, blocks: int, mode_switch: bool) -> str:
    action = rng.choices(list(ACTION_WEIGHTS), weights=list(ACTION_WEIGHTS.values()))[0]
    if action == "reenumerate":
        # What a USB handset does when its loader starts: only the first jump.
        return f"jump reenumerate {rng.randint(0, 4500)}"
    kinds = ["start", "jump", "erase", "retry", "block", "block:I"] + (["at"] if mode_switch else [])
    kind = rng.choice(kinds)
    if kind == "at" and action not in AT_ACTIONS:
        action = rng.choice(AT_ACTIONS)
    if kind == "erase" and action in ERASE_REPLY_LOST:
        action = "late"
    if kind == "block:I":
        trigger, limit = f"block:{rng.randrange(blocks)}", 2
    elif kind == "block":
        trigger, limit = "block", blocks
    else:
        trigger, limit = kind, OCCURRENCE_LIMIT[kind]
    if action in INSTANT_ACTIONS and kind != "at" and rng.random() < 0.12:
        trigger += "@*"
    else:
        n = rng.randint(1, limit)
        trigger += f"@{n}" if n > 1 or rng.random() < 0.3 else ""
    return f"{trigger} {action_text(rng, action)}"


def make_plan(seed: int) -> Plan:
    rng = random.Random(seed)
    asked = rng.choice(TYPES)
    old = None
    if asked == "COMPARE(EMERGENCY)":
        image, old, checked = compare_images(rng)
        boot = True
        blocks = COMPARE_BLOCK // KIB
    else:
        boot = wants_boot_image(rng, asked)
        image = bytes(stamped_image(rng, image_size(rng), boot))
        checked = [(0, len(image))]
        blocks = -(-len(image) // KIB)
    effective = runs_as(asked, boot)
    address_text, base = font_address(rng, len(image)) if effective.startswith("FONT") else (None, 0)
    rules = [scenario_rule(rng, blocks, effective in MODE_SWITCH_TYPES) for _ in range(rng.randint(0, 4))]
    return Plan(seed=seed, asked=asked, runs_as=effective, baud=rng.choice([57600, 115200]), yes=rng.random() < 0.5,
                image=image, old=old, font_address=address_text, checked=checked, base=base, rules=rules)


def describe(plan: Plan) -> str:
    kind = plan.asked if plan.asked == plan.runs_as else f"{plan.asked}->{plan.runs_as}"
    if plan.runs_as.startswith("FONT"):
        kind += f"@{plan.base:#x}"
    scenario = "; ".join(plan.rules) or "-"
    return f"{kind} {len(plan.image)}B @{plan.baud}{' --yes' if plan.yes else ''} [{scenario}]"


# ---- one run -------------------------------------------------------------------------

def write_inputs(plan: Plan, work: Path) -> None:
    (work / "image.bin").write_bytes(plan.image)
    if plan.old is not None:
        (work / "old.bin").write_bytes(plan.old)
    (work / "scenario.txt").write_text("".join(rule + "\n" for rule in plan.rules))
    (work / "config").mkdir()


def sim_command(plan: Plan, sim: Path, work: Path) -> list[str]:
    mode = "normal" if plan.runs_as in MODE_SWITCH_TYPES else "download"
    return [str(sim), "--link", str(work / "handset"), "--mode", mode, "--flash-out", str(work / "flash.bin"),
            "--transcript", str(work / "transcript.jsonl"), "--scenario", str(work / "scenario.txt"),
            "--idle-exit", "60"]


def cli_command(plan: Plan, cli: Path, work: Path) -> list[str]:
    # The link, not the slave path: it follows the handset when it unplugs or re-enumerates.
    args = [str(cli), "--port", str(work / "handset"), "--baud", str(plan.baud), "--json", "flash",
            str(work / "image.bin"), "--type", plan.asked]
    if plan.old is not None:
        args += ["--old", str(work / "old.bin")]
    if plan.font_address is not None:
        args += ["--font-address", plan.font_address]
    if plan.yes:
        args.append("--yes")
    return args


def start_sim(command: list[str], work: Path) -> subprocess.Popen:
    with open(work / "sim.out", "wb") as out, open(work / "sim.err", "wb") as err:
        return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out, stderr=err, start_new_session=True)


def wait_for_link(sim: subprocess.Popen, link: Path) -> bool:
    deadline = time.monotonic() + SIM_START_S
    while time.monotonic() < deadline:
        if link.is_symlink():
            return True
        if sim.poll() is not None:
            return False
        time.sleep(0.02)
    return False


def run_cli(command: list[str], work: Path, outcome: Outcome) -> None:
    env = dict(os.environ, XDG_CONFIG_HOME=str(work / "config"))
    started = time.monotonic()
    cli = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=env, start_new_session=True)
    try:
        out, err = cli.communicate(timeout=CLI_BOUND_S)
    except subprocess.TimeoutExpired:
        cli.kill()
        out, err = cli.communicate()
        outcome.violations.append(f"kestrel-cli did not end within {CLI_BOUND_S} s")
    outcome.seconds = time.monotonic() - started
    outcome.exit_code = cli.returncode
    outcome.cli_output = out.decode(errors="replace") + err.decode(errors="replace")
    (work / "cli.out").write_bytes(out)
    (work / "cli.err").write_bytes(err)
    check_end_line(out.decode(errors="replace"), cli.returncode, outcome)


def stop_sim(sim: subprocess.Popen, plan: Plan, work: Path, outcome: Outcome) -> None:
    ended_alone = sim.poll() is not None
    if not ended_alone:
        sim.send_signal(signal.SIGTERM)
        try:
            sim.wait(timeout=SIM_STOP_S)
        except subprocess.TimeoutExpired:
            sim.kill()
            sim.wait()
            outcome.violations.append(f"the simulator did not exit within {SIM_STOP_S} s of SIGTERM")
    outcome.sim_output = (work / "sim.out").read_text(errors="replace") + (work / "sim.err").read_text(errors="replace")
    summary = next((line for line in outcome.sim_output.splitlines() if line.startswith("summary:")), "")
    if sim.returncode != 0 or not summary:
        outcome.violations.append(f"the simulator ended with status {sim.returncode} and summary {summary!r}")
    elif ended_alone and not (summary.endswith("end=unplugged") and any(rule_unplugs_for_good(r) for r in plan.rules)):
        # Only an unplug for good ends it; end=idle means the tool left the line quiet for
        # the whole --idle-exit time, and then it was the simulator that ended the run.
        outcome.violations.append(f"the simulator ended before it was told: {summary}")
    elif not ended_alone and not summary.endswith("end=signal TERM"):
        outcome.violations.append(f"the simulator did not end on SIGTERM: {summary}")


def rule_unplugs_for_good(rule: str) -> bool:
    return rule.split()[1:] == ["unplug"]


def run_once(plan: Plan, build: Path, verbose: bool = False) -> Outcome:
    work = Path(tempfile.mkdtemp(prefix=f"kestrel-soak-{plan.seed}-"))
    outcome = Outcome(workdir=str(work))
    sim_args = sim_command(plan, build / "sim" / "kestrel-handset-sim", work)
    cli_args = cli_command(plan, build / "cli" / "kestrel-cli", work)
    if verbose:
        print("simulator: " + " ".join(sim_args) + "\ntool:      " + " ".join(cli_args), flush=True)
    sim = None
    try:
        write_inputs(plan, work)
        sim = start_sim(sim_args, work)
        if not wait_for_link(sim, work / "handset"):
            outcome.violations.append(f"the simulator did not place its link within {SIM_START_S} s")
        else:
            run_cli(cli_args, work, outcome)
        stop_sim(sim, plan, work, outcome)
        outcome.transcript = read_lines(work / "transcript.jsonl")
        check_transcript(outcome)
        if outcome.result == "completed" and outcome.exit_code == 0:
            check_flash(plan, work / "flash.bin", outcome)
    finally:
        if sim is not None and sim.poll() is None:
            sim.kill()
            sim.wait()
    if not verbose and not outcome.violations:
        shutil.rmtree(work, ignore_errors=True)
    return outcome


def read_lines(path: Path) -> list[str]:
    return path.read_text(errors="replace").splitlines() if path.exists() else []


# ---- checks ---------------------------------------------------------------------------

def check_end_line(stdout: str, exit_code: int, outcome: Outcome) -> None:
    ends = []
    for line in stdout.splitlines():
        try:
            obj = json.loads(line)
        except json.JSONDecodeError:
            outcome.violations.append(f"--json output line is not JSON: {line[:120]!r}")
            continue
        if isinstance(obj, dict) and obj.get("event") == "end":
            ends.append(obj)
    if len(ends) != 1:
        outcome.violations.append(f"{len(ends)} end events instead of one")
        return
    end = ends[0]
    outcome.result = str(end.get("result"))
    if end.get("exit_code") != exit_code:
        outcome.violations.append(f"end event says exit_code {end.get('exit_code')}, the process exited {exit_code}")
    if exit_code not in RESULT_EXIT.get(outcome.result, set()):
        outcome.violations.append(f"result {outcome.result!r} with exit code {exit_code}")
    if outcome.result == "nothing-to-do":
        outcome.violations.append("nothing-to-do, although every run here has blocks to write")


def check_transcript(outcome: Outcome) -> None:
    # Every injected rule changes only the handset's answers; none makes a correct tool
    # send a unit the handset must reject, so any fault is the tool's.
    for line in outcome.transcript:
        if '"event":"fault"' in line:
            outcome.violations.append(f"handset fault: {line}")


def check_flash(plan: Plan, dump_path: Path, outcome: Outcome) -> None:
    dump = dump_path.read_bytes() if dump_path.exists() else b""
    for start, end in plan.checked:
        at = plan.base + start
        held = dump[at:at + end - start]
        if held != plan.image[start:end]:
            first = next((i for i, (a, b) in enumerate(zip(held, plan.image[start:end])) if a != b), len(held))
            outcome.violations.append(f"completed, but the flash at {at:#x}-{at + end - start:#x} differs from the "
                                      f"image (first at {at + first:#x}; dump is {len(dump)} bytes)")


# ---- the series -----------------------------------------------------------------------

def run_line(index: int, plan: Plan, outcome: Outcome) -> str:
    mark = "  VIOLATION" if outcome.violations else ""
    return (f"{index:4d} seed={plan.seed} {describe(plan)} exit={outcome.exit_code} {outcome.result} "
            f"{outcome.seconds:.1f}s{mark}")


def tail(text_lines: list[str]) -> str:
    return "\n".join("    " + line for line in text_lines[-TAIL_LINES:])


def violation_report(plan: Plan, outcome: Outcome, build: Path) -> str:
    return "\n".join([
        f"--- seed {plan.seed}: {describe(plan)}",
        *("  ! " + v for v in outcome.violations),
        "  scenario:", tail(plan.rules or ["(none)"]),
        "  kestrel-cli output (tail):", tail(outcome.cli_output.splitlines()),
        "  transcript (tail):", tail(outcome.transcript),
        f"  files kept in {outcome.workdir}",
        f"  replay: {sys.argv[0]} --build {build} --replay {plan.seed}",
    ])


def run_series(runs: int, seed: int, jobs: int, build: Path) -> int:
    print(f"seed: {seed}", flush=True)
    master = random.Random(seed)
    plans = [make_plan(master.getrandbits(32)) for _ in range(runs)]
    results: dict[concurrent.futures.Future, tuple[Plan, Outcome]] = {}
    started = time.monotonic()
    pool = concurrent.futures.ThreadPoolExecutor(max_workers=jobs)
    futures = {pool.submit(run_once, plan, build): (i, plan) for i, plan in enumerate(plans, 1)}

    def collect(future: concurrent.futures.Future) -> None:
        index, plan = futures[future]
        results[future] = (plan, future.result())
        print(run_line(index, plan, results[future][1]), flush=True)

    interrupted = False
    try:
        for future in concurrent.futures.as_completed(futures):
            collect(future)
    except KeyboardInterrupt:
        interrupted = True
        # The children run in sessions of their own: the runs under way end within their
        # bound and clean up after themselves; the others are not started.
        print(f"interrupted: finishing the runs under way (at most {CLI_BOUND_S + SIM_STOP_S} s)", flush=True)
        pool.shutdown(cancel_futures=True)
        for future in futures:
            if future.done() and not future.cancelled() and future not in results:
                collect(future)
    pool.shutdown()
    failed = [(p, o) for p, o in results.values() if o.violations]
    by_exit = Counter(o.exit_code for _, o in results.values())
    print(f"\nruns: {len(results)} of {runs} in {time.monotonic() - started:.0f} s (seed {seed})")
    print("by exit code: " + ", ".join(f"{code}: {n}" for code, n in sorted(by_exit.items(), key=lambda kv: str(kv[0]))))
    print(f"violations: {len(failed)}")
    for plan, outcome in failed:
        print(violation_report(plan, outcome, build))
    return 1 if failed else 130 if interrupted else 0


def replay(seed: int, build: Path) -> int:
    plan = make_plan(seed)
    print(f"seed {seed}: {describe(plan)}")
    print("scenario:\n" + tail(plan.rules or ["(none)"]))
    outcome = run_once(plan, build, verbose=True)
    print("kestrel-cli output:\n" + "\n".join("    " + line for line in outcome.cli_output.splitlines()))
    print("simulator output:\n" + "\n".join("    " + line for line in outcome.sim_output.splitlines()))
    print("transcript (tail):\n" + tail(outcome.transcript))
    print(run_line(1, plan, outcome))
    for v in outcome.violations:
        print("  ! " + v)
    print(f"files kept in {outcome.workdir}")
    return 1 if outcome.violations else 0


def parse_args() -> argparse.Namespace:
    parser = argparse.ArgumentParser(description="Random real-time runs of kestrel-cli against the handset simulator.")
    parser.add_argument("--runs", type=int, default=20, help="number of runs (default 20)")
    parser.add_argument("--seed", type=int, help="seed of the series (default: a fresh one, printed first)")
    parser.add_argument("--build", type=Path, default=Path("build/release"),
                        help="build folder holding cli/kestrel-cli and sim/kestrel-handset-sim")
    parser.add_argument("--replay", type=int, metavar="SEED", help="run exactly the run of this per-run seed, verbose")
    parser.add_argument("--jobs", type=int, default=1, help="runs at the same time (default 1)")
    args = parser.parse_args()
    args.build = args.build.resolve()
    if args.runs < 1 or args.jobs < 1:
        parser.error("--runs and --jobs take a positive number")
    for binary in ("cli/kestrel-cli", "sim/kestrel-handset-sim"):
        if not os.access(args.build / binary, os.X_OK):
            parser.error(f"{args.build / binary} is missing; build it first")
    return args


def main() -> int:
    args = parse_args()
    if args.replay is not None:
        return replay(args.replay, args.build)
    seed = args.seed if args.seed is not None else random.SystemRandom().getrandbits(32)
    return run_series(args.runs, seed, args.jobs, args.build)


if __name__ == "__main__":
    sys.exit(main())
