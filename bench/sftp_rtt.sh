#!/bin/bash
# SFTP crawls behind a real round-trip time, side by side with rclone's
# SFTP backend, in one interleaved run: each round runs every benchmark
# once; the summary gives the medians and their ratios.
#
# Usage: bench/sftp_rtt.sh [-r RTT_MS] [-c 8,16] [-t TOPxSUB] [-n ROUNDS] [-b BUILD_DIR]
#   -r  round-trip time (default 20); the namespace comes from
#       ../shared/tools/rtt/setup.sh (root only; never in CI)
#   -c  connections of the crawls, checkers of rclone (default 8,16)
#   -t  tree shape (default 20x99: 2,000 directories, 40,020 files)
#   -n  rounds (default 3)
#
# OpenSSH's sshd runs inside the namespace with host and user keys made
# here (no passphrase, for both clients alike), logging in as root; it is
# stopped by its process id, and the namespace torn down, at exit.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
rtt=20
counts=8,16
shape=20x99
rounds=3
build=$here/build
while getopts "r:c:t:n:b:" opt; do
  case $opt in
    r) rtt=$OPTARG ;;
    c) counts=$OPTARG ;;
    t) shape=$OPTARG ;;
    n) rounds=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    *) sed -n '2,16p' "$0" >&2; exit 2 ;;
  esac
done
for b in crawl_bench sftp_bench; do
  [ -x "$build/bench/$b" ] || { echo "no $build/bench/$b (build it)" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "needs root (network namespace)" >&2; exit 1; }
rtt_dir=$(cd "$here/../shared/tools/rtt" 2>/dev/null || cd /work/shared/tools/rtt; pwd)
state=${RTT_STATE_DIR:-${TMPDIR:-/tmp}/orvane-rtt}/netns.env
[ -e "$state" ] && { echo "the rtt namespace is in use ($state)" >&2; exit 1; }

work=$(mktemp -d /tmp/orvane-sftp-rtt.XXXXXX)
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
ORVANE_CRAWL_TREE=$shape "$build/bench/crawl_bench" --make-tree="$work/tree"
ssh-keygen -q -t ed25519 -N '' -f "$work/host_ed25519"
ssh-keygen -q -t ed25519 -N '' -f "$work/user_ed25519"
cp "$work/user_ed25519.pub" "$work/authorized_keys"
made_netns=1
host=$("$rtt_dir/setup.sh" $((rtt / 2)))
mode=$(. "$state"; echo "$MODE")
port=2222
cat > "$work/sshd_config" <<CONF
Port $port
ListenAddress $host
HostKey $work/host_ed25519
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UsePAM no
PermitRootLogin yes
PasswordAuthentication no
MaxStartups 200
MaxSessions 200
Subsystem sftp internal-sftp
CONF
echo "[$host]:$port $(cut -d' ' -f1,2 "$work/host_ed25519.pub")" > "$work/known_hosts"
mkdir -p -m 0755 /run/sshd
setsid ip netns exec orvane-rtt /usr/sbin/sshd -D -e -f "$work/sshd_config" \
  > "$work/server.err" 2>&1 < /dev/null &
server_pid=$!
for _ in $(seq 100); do
  if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then break; fi
  sleep 0.1
done
echo "sshd on $host:$port, RTT $rtt ms ($mode); connections $counts; $rounds round(s)" >&2

for round in $(seq "$rounds"); do
  echo "round $round ..." >&2
  env ORVANE_SFTP_HOST=$host ORVANE_SFTP_PORT=$port ORVANE_SFTP_USER=root \
    ORVANE_SFTP_KEY=$work/user_ed25519 ORVANE_SFTP_KNOWN_HOSTS=$work/known_hosts \
    ORVANE_SFTP_ROOT=$work/tree ORVANE_CRAWL_CONNECTIONS=$counts \
    "$build/bench/sftp_bench" --benchmark_out="$work/round$round.json" \
    --benchmark_out_format=json > "$work/round$round.txt" 2>&1 ||
    { cat "$work/round$round.txt" >&2; exit 1; }
  grep -E "^BM_" "$work/round$round.txt" >&2 || true
done

/usr/bin/python3 - "$rtt" "$mode" "$shape" "$work"/round*.json <<'PY'
import json, statistics, sys
rtt, mode, shape = sys.argv[1:4]
times = {}
for path in sys.argv[4:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("error_occurred"):
            print(f"{b['name']}: {b.get('error_message')}")
            continue
        times.setdefault(b["name"].split("/iterations")[0], []).append(b["real_time"] / 1000)
med = {name: statistics.median(v) for name, v in times.items()}
print(f"sshd, RTT {rtt} ms ({mode}), tree {shape}, median of {len(sys.argv) - 4}")
for name, t in sorted(med.items()):
    print(f"  {name:32} {t:8.2f} s   rounds: {', '.join(f'{x:.2f}' for x in times[name])}")
for name, t in sorted(med.items()):
    kind, _, n = name.partition("/")
    if kind == "BM_SftpCrawl" and f"BM_RcloneSftp/{n}" in med:
        print(f"  ratio crawl/{n} / rclone {n} checkers: {t / med['BM_RcloneSftp/' + n]:.2f}")
PY
