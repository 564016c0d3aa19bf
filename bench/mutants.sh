#!/usr/bin/env bash
# How many faults planted in the logic library its tests catch: a fixed, seeded sample of simple
# mutations of src/logic/*.cpp (a comparison flipped, a number moved by one, a condition negated,
# a statement removed), each applied alone, the library and the tests that include the mutated
# file's header rebuilt, those tests run, the mutation reverted. A mutant is killed when a test
# fails or times out; one that does not compile counts as neither. A mutant's place in the sample
# is a hash of its own file, line and change, so an edit of one file moves few mutants of others.
#   bench/mutants.sh [count]    (default 48, a quarter of each kind; SEED changes the sample)
# It works in a clone of the committed tree under $TMPDIR, so the checkout is never touched;
# ccache makes the first build there cheap after a build of the checkout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-48}
seed=${SEED:-2026}
work=$(mktemp -d "${TMPDIR:-/tmp}/vyo-mutants.XXXXXX")
trap 'rm -rf "$work"' EXIT

git clone -q --shared "$root" "$work/src"
[ -d "$root/node_modules" ] && ln -s "$root/node_modules" "$work/src/node_modules"
export CCACHE_BASEDIR=$work/src
echo "configuring a private build in $work ..." >&2
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVYO_BUILD_BENCHMARKS=OFF >/dev/null

cd "$work/src"
python3 - "$count" "$seed" "$work/build" <<'PY'
import hashlib, os, pathlib, re, subprocess, sys, time

count, seed, build_dir = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
scratch = os.path.join(os.path.dirname(build_dir), "tmp")
os.makedirs(scratch, exist_ok=True)
KEYWORDS = {"if", "while", "for", "switch", "return", "case", "else", "do", "delete", "throw"}
FLIP = {"<": ">=", "<=": ">", ">": "<=", ">=": "<", "==": "!=", "!=": "=="}


def masked(line):
    """The line with string and character literals and a trailing comment blanked out."""
    line = re.sub(r'"(?:\\.|[^"\\])*"', lambda m: '"' + " " * (len(m.group()) - 2) + '"', line)
    line = re.sub(r"'(?:\\.|[^'\\])'", lambda m: " " * len(m.group()), line)
    cut = line.find("//")
    return line if cut < 0 else line[:cut] + " " * (len(line) - cut)


def closing(text, start):
    depth = 0
    for i in range(start, len(text)):
        depth += {"(": 1, ")": -1}.get(text[i], 0)
        if depth == 0:
            return i
    return -1


def candidates(path):
    lines = path.read_text().split("\n")
    previous = "{"
    for number, line in enumerate(lines):
        code = masked(line)
        stripped = code.strip()
        if not stripped or stripped.startswith(("#", "*", "/*")):
            continue
        for m in re.finditer(r" (<=|>=|==|!=|<|>) ", code):
            yield "comparison", number, line[:m.start(1)] + FLIP[m.group(1)] + line[m.end(1):]
        for m in re.finditer(r"(?<![\w.'])(\d+)(?![\w.'])", code):
            value = int(m.group(1))
            yield "boundary", number, (line[:m.start()], value, line[m.end():])
        for m in re.finditer(r"\b(?:if|while) \(", code):
            end = closing(code, m.end() - 1)
            if end > 0:
                inner = line[m.end():end]
                yield "negation", number, line[:m.end()] + "!(" + inner + ")" + line[end:]
        statement = re.match(r"\s*([A-Za-z_]\w*)(?:(?:\.|->|::)[A-Za-z_]\w*)*(?:\[[^\]]*\])?"
                             r"\s*(?:[-+*/|&^]?=(?!=)|\+\+|--|\()", code)
        if (statement and statement.group(1) not in KEYWORDS and stripped.endswith(";")
                and previous.endswith((";", "{", "}", ":"))):
            yield "removal", number, line[:len(line) - len(line.lstrip())] + ";"
        previous = stripped


def rank(path, number, text):
    """A mutant's place in the sample: a hash of its file, its line and the change."""
    key = "%d|%s|%s|%s" % (seed, path, lines_of[path][number].strip(), text)
    return hashlib.sha1(key.encode()).hexdigest()


lines_of = {}
everything = {}
for path in sorted(pathlib.Path("src/logic").glob("*.cpp")):
    lines_of[path] = path.read_text().split("\n")
    for kind, number, mutated in candidates(path):
        if kind == "boundary":
            before, value, after = mutated
            step = 1 if value == 0 or int(rank(path, number, before + "#" + after), 16) % 2 else -1
            mutated = before + str(value + step) + after
        everything.setdefault(kind, []).append((rank(path, number, mutated), path, number, mutated))
sample = []
kinds = sorted(everything)
for index, kind in enumerate(kinds):
    wanted = count // len(kinds) + (1 if index < count % len(kinds) else 0)
    for _, path, number, mutated in sorted(everything[kind])[:wanted]:
        sample.append((kind, path, number, mutated))


def tests_of(path):
    header = re.compile(r'#include "(?:logic/)?%s\.h"' % path.stem)
    return sorted(t.stem for t in pathlib.Path("tests").rglob("tst_*.cpp")
                  if header.search(t.read_text()))


def build(targets):
    return subprocess.run(["cmake", "--build", build_dir, "--target", *targets],
                          capture_output=True)


def passes(tests):
    pattern = "^(%s)$" % "|".join(tests)
    # A mutant may write or loop without end: files are capped at 5 GiB (above the sparse 4 GiB
    # file the ZIP writer's test makes), runs at 120 s, and what a killed test leaves behind stays
    # in this run's folder.
    run = subprocess.run(["bash", "-c", 'ulimit -f 5242880; exec "$@"', "bash",
                          "scripts/with-display.sh", "ctest", "--test-dir", build_dir, "-R", pattern,
                          "--timeout", "120", "-j2"],
                         capture_output=True, env=dict(os.environ, TMPDIR=scratch))
    return run


every_test = sorted({t for _, path, _, _ in sample for t in tests_of(path)})
print("building the logic library and %d tests ..." % len(every_test), file=sys.stderr)
for step, run in (("build fails", build), ("tests fail", passes)):
    result = run(every_test)
    if result.returncode != 0:
        sys.stderr.write(result.stdout.decode(errors="replace")[-3000:])
        sys.exit("the unmutated %s: fix that first" % step)

started = time.monotonic()
killed = stillborn = 0
for index, (kind, path, number, mutated) in enumerate(sample, 1):
    original = path.read_text()
    lines = original.split("\n")
    before = lines[number].strip()
    lines[number] = mutated
    tests = tests_of(path)
    try:
        path.write_text("\n".join(lines))
        if not tests:
            verdict = "survived (no test includes it)"
        elif build(tests).returncode != 0:
            stillborn += 1
            verdict = "did not compile"
        elif passes(tests).returncode == 0:
            verdict = "SURVIVED"
        else:
            killed += 1
            verdict = "killed"
    finally:
        path.write_text(original)
    print("%2d/%d %-10s %s:%d  %s  ->  %s   %s"
          % (index, len(sample), kind, path, number + 1, before, mutated.strip(), verdict))

valid = len(sample) - stillborn
print("\nseed %d: %d mutants, %d did not compile; killed %d of %d (%.0f %%) in %.0f s"
      % (seed, len(sample), stillborn, killed, valid, 100.0 * killed / max(valid, 1),
         time.monotonic() - started))
PY
