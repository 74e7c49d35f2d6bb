#!/bin/sh
# orvane-cli find against grep over a flat file of the same names, whole
# processes timed by farm-bench (warm cache): a rare word, a common word and
# a Chinese word counted (grep -c -i), then every hit of the common word
# printed (grep -i) to a file. Usage, after
#   ORVANE_FIND_BENCH_DIR=DIR build/bench/find_bench --benchmark_filter=Build
# has written DIR:
#   bench/find_compare.sh DIR [build/orvane-cli]
set -eu
dir=$1
cli=${2:-build/orvane-cli}
# The names as text: code page 936 names decoded, as a person's list would be.
if [ ! -f "$dir/names-utf8.txt" ]; then
  python3 - "$dir" <<'PY'
import sys
d = sys.argv[1]
with open(d + "/names.txt", "rb") as src, open(d + "/names-utf8.txt", "w", encoding="utf-8") as out:
    for line in src:
        b = line.rstrip(b"\n")
        try:
            out.write(b.decode("utf-8") + "\n")
        except UnicodeDecodeError:
            out.write(b.decode("gbk", errors="replace") + "\n")
PY
fi
for word in needle linux 文档; do
  echo "== count: $word"
  farm-bench -n 5 --vs "sh -c 'exec grep -c -i $word $dir/names-utf8.txt'" -- \
    sh -c "exec $cli --data-dir $dir find $word >/dev/null"
done
echo "== print every hit: linux"
farm-bench -n 5 --vs "sh -c 'exec grep -i linux $dir/names-utf8.txt >/tmp/find_compare_grep.out'" -- \
  sh -c "exec $cli --data-dir $dir find linux >/tmp/find_compare_find.out"
