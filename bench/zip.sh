#!/usr/bin/env bash
# Benchmark of the ZIP writer (deflating on every core, and on one thread) against Info-ZIP zip
# (default level) and bsdtar's ZIP format, on a mixed corpus of at least 1 GiB (text, source code, JPEG photographs, a ZIP archive), and on the
# already-compressed part alone against a plain cp. The corpus is made at run time in a temporary
# folder and removed afterwards.
#   bench/zip.sh            (BUILD_DIR sets the build folder, default build)
# BASELINE=<another bench_zip> adds its rows ("baseline") to the same run, e.g. one built from an
# earlier commit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target bench_zip >/dev/null
helper=$build/bench/bench_zip
export LC_ALL=C.UTF-8

work=$(mktemp -d "${TMPDIR:-/tmp}/vyo-zipbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mixed=$work/corpus/혼합
stored=$work/corpus/압축됨
mkdir -p "$mixed/text" "$mixed/source" "$stored"

echo "making the corpus in $work ..." >&2
# Text: documents and logs in Korean and English, words drawn with a Zipf-like frequency.
python3 - "$mixed/text" <<'PY'
import os, random, re, sys
random.seed(5)
licences = open('/usr/share/common-licenses/GPL-3').read() + open('/usr/share/common-licenses/Apache-2.0').read()
english = sorted(set(re.findall(r"[A-Za-z]+", licences)))
korean = ("셸프 파일 이름 압축 저장 윈도우 한글 사진 문서 보고서 회의 일정 내려받기 폴더 항목 공유 "
          "휴대폰 컴퓨터 연결 전송 완료 실패 다시 확인 설정 사용자 기록 오늘 내일 어제 시간 분 초").split()
vocabulary = korean + english
weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]
random.shuffle(vocabulary)
total, index = 0, 0
while total < 380_000_000:
    size = random.randint(2_000_000, 12_000_000)
    kind = random.choice(["문서", "log", "notes"])
    path = os.path.join(sys.argv[1], f"{kind}-{index:03d}.txt")
    with open(path, "w", encoding="utf-8") as out:
        written = 0
        while written < size:
            words = random.choices(vocabulary, weights, k=random.randint(6, 24))
            line = " ".join(words).capitalize() + ".\n"
            if kind == "log":
                line = f"2024-03-{random.randint(1,28):02d} {random.randint(0,23):02d}:{random.randint(0,59):02d} INFO " + line
            out.write(line)
            written += len(line.encode("utf-8"))
    total += os.path.getsize(path)
    index += 1
PY
# Source code: the system's C and C++ headers, twice.
cp -r /usr/include "$mixed/source/include-1"
cp -r /usr/include "$mixed/source/include-2"
# Photographs, and a ZIP archive of some of the headers: already compressed.
"$helper" jpegs "$stored/사진" 200 7
(cd /usr/include && zip -q -r "$stored/headers.zip" .)
cp -r "$stored/사진" "$stored/headers.zip" "$mixed/"

bytes() { du -sb --apparent-size "$1" | cut -f1; }
mixed_bytes=$(bytes "$mixed")
stored_bytes=$(bytes "$stored")
if [ "$mixed_bytes" -lt $((1024 * 1024 * 1024)) ]; then
  echo "corpus too small: $mixed_bytes bytes" >&2
  exit 1
fi
# Warm the page cache so that every tool reads from memory alike.
find "$work/corpus" -type f -exec cat {} + >/dev/null

out=$work/out
# Runs one tool: prints "name seconds cpu-seconds output-bytes"; the output is removed after.
run() {
  local name=$1 result=$2
  shift 2
  rm -rf "$out" && mkdir -p "$out"
  sync
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/time" || {
    cat "$work/stderr" >&2
    return 1
  }
  awk -v name="$name" -v bytes="$(bytes "$out/$result")" \
    '{ printf "%s\t%s\t%s\t%s\n", name, $1, $2 + $3, bytes }' "$work/time"
}

report() {
  local input=$1
  awk -F '\t' -v input="$input" '{
    printf "  %-22s %8.2f s %7.1f MB/s   cpu %7.2f s %7.1f MB/cpu-s   ratio %.3f\n",
           $1, $2, input / $2 / 1e6, $3, input / $3 / 1e6, $4 / input
  }'
}

echo
echo "wall time and throughput, CPU time (user + system) and throughput per CPU second, and"
echo "archive size / input size; the machine's load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "mixed corpus: $mixed_bytes bytes ($(find "$mixed" -type f | wc -l) files)"
{
  run vyo out.zip "$helper" archive "$out/out.zip" "$mixed"
  run "vyo, 1 thread" out.zip "$helper" archive --threads 1 "$out/out.zip" "$mixed"
  [ -z "${BASELINE:-}" ] || run baseline out.zip "$BASELINE" archive "$out/out.zip" "$mixed"
  run "zip -r (level 6)" out.zip sh -c "cd '$work/corpus' && zip -q -r '$out/out.zip' 혼합"
  run "bsdtar --format zip" out.zip bsdtar --format zip -cf "$out/out.zip" -C "$work/corpus" 혼합
} | report "$mixed_bytes"

echo
echo "already-compressed corpus: $stored_bytes bytes ($(find "$stored" -type f | wc -l) files)"
{
  run vyo out.zip "$helper" archive "$out/out.zip" "$stored"
  [ -z "${BASELINE:-}" ] || run baseline out.zip "$BASELINE" archive "$out/out.zip" "$stored"
  run cp copy cp -r "$stored" "$out/copy"
} | report "$stored_bytes"

# The archive is correct, not only fast.
"$helper" archive "$out/check.zip" "$mixed" >/dev/null
unzip -tq "$out/check.zip" >/dev/null && echo && echo "unzip -t: the mixed archive tests clean"
