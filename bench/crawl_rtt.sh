#!/bin/bash
# Crawls behind a real round-trip time, side by side with rclone and curl,
# in one interleaved run: each round runs every benchmark once, and the
# summary gives the median of the rounds and the ratios of the medians.
#
# Usage: bench/crawl_rtt.sh [-s vsftpd|pure-ftpd] [-r RTT_MS] [-c 1,8,16]
#                           [-t TOPxSUB] [-n ROUNDS] [-f FILTER] [-b BUILD_DIR]
#   -s  server, started inside the namespace (default vsftpd)
#   -r  round-trip time (default 20); the namespace comes from
#       ../shared/tools/rtt/setup.sh (root only; never in CI)
#   -c  connections of the crawls, checkers of rclone (default 1,8,16)
#   -t  tree shape: TOP directories of SUB subdirectories each (default
#       20x99: 2,000 directories, 40,020 files)
#   -n  rounds (default 3)
#   -a  N: N subdirectories get names a recursive listing cannot stand for
#       ("*", a backslash, a TAB, GBK bytes), listed each on its own
#   -f  benchmarks to run, a crawl_bench filter (default: the per-directory
#       crawl and rclone; "Recursive|Curl" for the recursive listing)
#   -T  FILE: also write the crawls' timelines there (ORVANE_CRAWL_TRACE);
#       tools/crawl_trace_summary.py reads it
#
# The server and the namespace are stopped by their process id / torn down
# at exit.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
server=vsftpd
rtt=20
counts=1,8,16
shape=20x99
rounds=3
filter='BM_CrawlNewSite|BM_Rclone'
build=$here/build
trace=
awkward=0
while getopts "s:r:c:t:n:f:b:T:a:" opt; do
  case $opt in
    s) server=$OPTARG ;;
    r) rtt=$OPTARG ;;
    c) counts=$OPTARG ;;
    t) shape=$OPTARG ;;
    n) rounds=$OPTARG ;;
    f) filter=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    T) trace=$OPTARG ;;
    a) awkward=$OPTARG ;;
    *) sed -n '2,24p' "$0" >&2; exit 2 ;;
  esac
done
bench=$build/bench/crawl_bench
[ -x "$bench" ] || { echo "no $bench (build the crawl_bench target)" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "needs root (network namespace)" >&2; exit 1; }
rtt_dir=$(cd "$here/../shared/tools/rtt" 2>/dev/null && pwd || { cd /work/shared/tools/rtt && pwd; })
state=${RTT_STATE_DIR:-${TMPDIR:-/tmp}/orvane-rtt}/netns.env
[ -e "$state" ] && { echo "the rtt namespace is in use ($state)" >&2; exit 1; }

work=$(mktemp -d /tmp/orvane-crawl-rtt.XXXXXX)
chmod 0755 "$work"
server_pid=
made_netns=
cleanup() {
  if [ -n "$server_pid" ]; then
    kill -TERM -- "-$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$made_netns" ]; then "$rtt_dir/teardown.sh" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the tree ($shape) ..." >&2
ORVANE_CRAWL_TREE=$shape ORVANE_CRAWL_AWKWARD=$awkward "$bench" --make-tree="$work/tree"
made_netns=1
host=$("$rtt_dir/setup.sh" $((rtt / 2)))
mode=$(. "$state"; echo "$MODE")
port=2121
user=anonymous
pass=orvane@ftp.cn
case $server in
  vsftpd)
    mkdir -p "$work/empty"
    cat > "$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=$host
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
write_enable=NO
anon_root=$work/tree
no_anon_password=YES
anon_world_readable_only=NO
allow_writeable_chroot=YES
secure_chroot_dir=$work/empty
seccomp_sandbox=NO
force_dot_files=YES
pasv_enable=YES
hide_ids=YES
max_clients=0
max_per_ip=0
EOF
    setsid ip netns exec orvane-rtt /usr/sbin/vsftpd "$work/vsftpd.conf" \
      > "$work/server.err" 2>&1 < /dev/null &
    server_pid=$!
    ;;
  pure-ftpd)
    pure=${ORVANE_PURE_FTPD_DIR:-$HOME/.cache/orvane/pure-ftpd}
    [ -x "$pure/usr/sbin/pure-ftpd" ] || pure=/
    user=tester
    pass=orvane-test
    printf '%s:%s:65534:65534::%s/./::::::::::::\n' "$user" \
      '$6$orvanetest$.v1SiAYbZP3300A4x3Muo5hytYPPCPyMceUT/cKlD2rWI27ajubcON0UdmWq5CdDOwx0l6xY1yhpwgHse8si0/' \
      "$work/tree" > "$work/pureftpd.passwd"
    "$pure/usr/bin/pure-pw" mkdb "$work/pureftpd.pdb" -f "$work/pureftpd.passwd"
    # As the test fixture runs it: -E no anonymous, -D dot files, -H no
    # reverse lookups, -L no cut at 10,000 entries.
    setsid ip netns exec orvane-rtt "$pure/usr/sbin/pure-ftpd" -S "$host,$port" \
      -l "puredb:$work/pureftpd.pdb" -E -D -H -L 2000000:128 \
      > "$work/server.err" 2>&1 < /dev/null &
    server_pid=$!
    ;;
  *) echo "unknown server $server" >&2; exit 2 ;;
esac
for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then break; fi
  sleep 0.1
done
echo "$server on $host:$port, RTT $rtt ms ($mode); connections $counts; $rounds round(s)" >&2

for round in $(seq "$rounds"); do
  echo "round $round ..." >&2
  env ORVANE_CRAWL_HOST=$host ORVANE_CRAWL_PORT=$port ORVANE_CRAWL_USER=$user \
  ORVANE_CRAWL_PASS=$pass ORVANE_CRAWL_ITERATIONS=1 ORVANE_CRAWL_TREE=$shape \
  ORVANE_CRAWL_CONNECTIONS=$counts ORVANE_CRAWL_AWKWARD=$awkward ${trace:+ORVANE_CRAWL_TRACE=$trace} \
    "$bench" --benchmark_filter="$filter" --benchmark_out="$work/round$round.json" \
    --benchmark_out_format=json > "$work/round$round.txt" 2>&1 ||
    { cat "$work/round$round.txt" >&2; exit 1; }
  grep -E "^BM_" "$work/round$round.txt" >&2 || true
done

/usr/bin/python3 - "$server" "$rtt" "$mode" "$shape" "$work"/round*.json <<'EOF'
import json, statistics, sys
server, rtt, mode, shape = sys.argv[1:5]
times = {}
for path in sys.argv[5:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message')}")
            continue
        times.setdefault(b["name"].split("/iterations")[0], []).append(b["real_time"] / 1000)
med = {name: statistics.median(v) for name, v in times.items()}
print(f"server {server}, RTT {rtt} ms ({mode}), tree {shape}, median of {len(sys.argv) - 5}")
for name, t in sorted(med.items()):
    print(f"  {name:32} {t:8.2f} s   rounds: {', '.join(f'{x:.2f}' for x in times[name])}")
for name, t in sorted(med.items()):
    kind, _, n = name.partition("/")
    if kind in ("BM_CrawlNewSite", "BM_RecrawlUnchangedSite") and f"BM_Rclone/{n}" in med:
        print(f"  ratio {kind}/{n} / rclone {n} checkers: {t / med['BM_Rclone/' + n]:.2f}")
    if kind == "BM_CrawlRecursive" and "BM_CurlListR" in med:
        print(f"  ratio recursive crawl/{n} / curl LIST -aR: {t / med['BM_CurlListR']:.2f}")
EOF
