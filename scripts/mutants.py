#!/usr/bin/env python3
"""Plants small faults in the program, one at a time, and tells which ones the test suite catches.

    scripts/mutants.py -n 40 --seed 7            # draw 40 faults, build, run the suite for each
    scripts/mutants.py -n 40 --seed 7 --list     # only show the faults that would be planted
    scripts/mutants.py --seed 7 --only 3,17      # run just these (numbers as printed)

The faults: a comparison or logical operator flipped, binary + and - swapped, true and false
swapped, a ! dropped, an integer literal off by one, or a call statement removed. Sites are
drawn from the program's .cpp files (comments, string literals, logging lines and preprocessor
lines are skipped). Each fault is planted into a scratch copy of the project (never into the
work tree), built incrementally at -O1 without debug info, and tested with
`ctest --stop-on-failure`. A fault that does not compile is passed over and the next drawn site
takes its place, so the report always counts N faults that built. The same seed on the same
program code draws the same sites.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROGRAM_DIRS = ["app", "core", "desktop", "cli"]
LOG_LINE = re.compile(r"\b(QLOG_\w+|qDebug|qInfo|qWarning|qCritical|qFatal)\b")
SKIP_CALLS = re.compile(r"^\s*(Q_UNUSED|Q_ASSERT|Q_ASSERT_X|Q_OBJECT|Q_DECLARE_\w+)\b")
KEYWORDS = {"return", "if", "while", "for", "switch", "delete", "new", "case", "else", "do",
            "throw", "sizeof", "using", "typedef", "goto", "break", "continue"}


def mask_code(text):
    """The text with comments, string and character literals blanked (positions kept)."""
    out = list(text)
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out[i] = " "
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            for k in range(i, end):
                if text[k] != "\n":
                    out[k] = " "
            i = end
        elif c in "\"'":
            # a raw string R"(...)" is blanked to its closing )"
            if c == '"' and i > 0 and text[i - 1] == "R":
                end = text.find(')"', i)
                end = n if end < 0 else end + 2
            else:
                k = i + 1
                while k < n and text[k] != c and text[k] != "\n":
                    k += 2 if text[k] == "\\" else 1
                end = min(k + 1, n)
            for k in range(i, end):
                if text[k] != "\n":
                    out[k] = " "
            i = end
        else:
            i += 1
    return "".join(out)


# (kind, pattern on the masked line, replacement function)
SWAPS = {"==": "!=", "!=": "==", "<": ">=", ">": "<=", "<=": ">", ">=": "<",
         "&&": "||", "||": "&&", "+": "-", "-": "+", "true": "false", "false": "true"}
OPERATORS = [
    ("comparison", re.compile(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)")),
    ("logical", re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")),
    ("arithmetic", re.compile(r"(?<=\s)(\+|-)(?=\s)")),
    ("boolean", re.compile(r"\b(true|false)\b")),
    ("negation", re.compile(r"!(?!=)")),
    ("integer", re.compile(r"(?<![\w.])(\d+)(?![\w.])")),
]
CALL_LINE = re.compile(r"^(\s*)(?:emit\s+)?((?:[\w:]+(?:\.|->))*([\w:~]+))\s*\(.*\)\s*;\s*$")


def sites_of(path, rel):
    text = open(path, encoding="utf-8").read()
    masked = mask_code(text).split("\n")
    lines = text.split("\n")
    found = []
    for no, (line, code) in enumerate(zip(lines, masked), 1):
        stripped = code.strip()
        if not stripped or stripped.startswith("#") or LOG_LINE.search(line):
            continue
        for kind, rx in OPERATORS:
            for m in rx.finditer(code):
                tok = m.group(1) if m.groups() else m.group(0)
                if kind == "negation":
                    new = ""
                elif kind == "integer":
                    new = str(int(tok) + 1)
                else:
                    new = SWAPS[tok]
                found.append((rel, no, kind, m.start(), tok, new))
        m = CALL_LINE.match(code)
        if (m and code.count("(") == code.count(")") and "=" not in code.split("(")[0]
                and m.group(3) not in KEYWORDS and not SKIP_CALLS.match(code)
                and not lines[no - 2].rstrip().endswith((",", "(", "?", ":", "&&", "||", "+", "-"))):
            found.append((rel, no, "call", len(m.group(1)), line.strip(), ";"))
    return found


def all_sites(src):
    sites = []
    for d in PROGRAM_DIRS:
        base = os.path.join(src, d)
        for dirpath, _, files in os.walk(base):
            for f in sorted(files):
                if f.endswith(".cpp"):
                    full = os.path.join(dirpath, f)
                    sites += sites_of(full, os.path.relpath(full, src))
    sites.sort()
    return sites


def plant(text, site):
    rel, no, kind, col, tok, new = site
    lines = text.split("\n")
    line = lines[no - 1]
    if kind == "call":
        lines[no - 1] = line[:col] + ";  // removed by mutants.py"
    else:
        assert line[col:col + len(tok)] == tok, (site, line)
        lines[no - 1] = line[:col] + new + line[col + len(tok):]
    return "\n".join(lines)


def describe(site):
    rel, no, kind, col, tok, new = site
    if kind == "call":
        return f"{rel}:{no} call removed: {tok}"
    return f"{rel}:{no}:{col + 1} {kind} '{tok}' -> '{new}'"


def tracked_files(src):
    out = subprocess.run(["git", "ls-files", "-co", "--exclude-standard"], cwd=src,
                         capture_output=True, text=True, check=True).stdout.split("\n")
    return [f for f in out if f and os.path.isfile(os.path.join(src, f))]


def sync_tree(src, dst):
    """Copies the project into dst, touching only files whose content changed (keeps builds incremental)."""
    os.makedirs(dst, exist_ok=True)
    for rel in tracked_files(src):
        a, b = os.path.join(src, rel), os.path.join(dst, rel)
        data = open(a, "rb").read()
        if os.path.exists(b) and open(b, "rb").read() == data:
            continue
        os.makedirs(os.path.dirname(b), exist_ok=True)
        with open(b, "wb") as fh:
            fh.write(data)
        shutil.copymode(a, b)


def run(cmd, cwd, timeout=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)
        return p.returncode, p.stdout + p.stderr
    except subprocess.TimeoutExpired as e:
        return 124, (e.stdout or b"").decode(errors="replace") if isinstance(e.stdout, bytes) else str(e.stdout or "")


def build(build_dir, jobs):
    return run(["cmake", "--build", build_dir, f"-j{jobs}"], cwd=build_dir)


def run_suite(build_dir, jobs, test_timeout):
    rc, out = run(["ctest", "--stop-on-failure", f"-j{jobs}"], cwd=build_dir, timeout=test_timeout * 4 + 120)
    names = re.findall(r"Test\s+#\d+:\s+(\S+)\s+\.+\s*\*+(?:Failed|Timeout|Exception)", out)
    return rc, names, out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("-n", type=int, default=40, help="number of faults that build (default 40)")
    ap.add_argument("--seed", type=int, default=1, help="seed for drawing the sites (default 1)")
    ap.add_argument("--scratch", default=os.path.join(os.environ.get("TMPDIR", "/tmp"), "dose-mutants"),
                    help="scratch copy and build directory (kept between runs)")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--test-timeout", type=int, default=90, help="seconds one test program may take")
    ap.add_argument("--list", action="store_true", help="only list the drawn sites")
    ap.add_argument("--only", default="", help="fault numbers to run, e.g. 3,17 or 11-40")
    args = ap.parse_args()

    sites = all_sites(ROOT)
    rng = random.Random(args.seed)
    order = sites[:]
    rng.shuffle(order)
    print(f"{len(sites)} fault sites in the program; seed {args.seed}, drawing {args.n}", flush=True)
    if args.list:
        for i, s in enumerate(order[:args.n], 1):
            print(f"{i:3d} {describe(s)}")
        return 0

    src = os.path.join(args.scratch, "src")
    bld = os.path.join(args.scratch, "build")
    sync_tree(ROOT, src)
    if not os.path.exists(os.path.join(bld, "CMakeCache.txt")):
        rc, out = run(["cmake", "-S", src, "-B", bld, "-DCMAKE_BUILD_TYPE=Release",
                       "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -g0 -DNDEBUG", "-DDOSE_BENCH=OFF", "-DDOSE_SHARED_CORE=ON", f"-DDOSE_TEST_TIMEOUT={args.test_timeout}"], cwd=ROOT)
        if rc:
            print(out)
            return 1
    os.environ["QT_QPA_PLATFORM"] = "offscreen"
    t0 = time.time()
    rc, out = build(bld, args.jobs)
    if rc:
        print(out[-4000:])
        print("the unmutated project does not build", file=sys.stderr)
        return 1
    rc, names, out = run_suite(bld, args.jobs, args.test_timeout)
    if rc:
        print(out[-4000:])
        print("the unmutated suite fails; fix that first", file=sys.stderr)
        return 1
    print(f"unmutated build and suite: green in {time.time() - t0:.0f} s", flush=True)

    only = set()
    for part in filter(None, (x.strip() for x in args.only.split(","))):
        first, _, last = part.partition("-")
        only.update(range(int(first), int(last or first) + 1))
    killed = tried = skipped = 0
    survivors = []
    number = 0
    for site in order:
        if number >= args.n and not only:
            break
        if only and number >= max(only):
            break
        path = os.path.join(src, site[0])
        original = open(path, encoding="utf-8").read()
        mutated = plant(original, site)
        with open(path, "w", encoding="utf-8") as fh:
            fh.write(mutated)
        try:
            rc, out = build(bld, args.jobs)
            if rc:
                skipped += 1
                continue
            number += 1
            if only and number not in only:
                continue
            t = time.time()
            rc, names, out = run_suite(bld, args.jobs, args.test_timeout)
            tried += 1
            if rc:
                killed += 1
                print(f"[{number:3d}] killed   {describe(site)}  by {','.join(names) or '?'} "
                      f"({time.time() - t:.0f} s)", flush=True)
            else:
                survivors.append((number, site))
                print(f"[{number:3d}] SURVIVED {describe(site)} ({time.time() - t:.0f} s)", flush=True)
        finally:
            with open(path, "w", encoding="utf-8") as fh:
                fh.write(original)
    print(f"{skipped} drawn sites did not compile and were passed over")
    pct = 100.0 * killed / tried if tried else 0.0
    print(f"killed {killed} of {tried} ({pct:.1f} %)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
