#!/bin/bash
# Crawls one generated tree (2,000 directories, 40,020 files) from one FTP
# server with crawl_bench, then lists the same tree with lftp and rclone
# (one connection), and prints wall times, commands per directory and the
# ratios ours / theirs.
#
# Usage: bench/crawl_compare.sh [-s pyftpdlib|vsftpd] [-r RTT_MS] [-b BUILD_DIR] [-n N]
#   -s  server (default pyftpdlib; vsftpd needs root)
#   -r  serve from a network namespace with this round-trip time, made by
#       ../shared/tools/rtt (root only; never in CI). Without it: loopback.
#   -b  build directory holding bench/crawl_bench (default: build)
#   -n  crawls per benchmark (default 3; 1 is plenty with -r)
#
# The server, and the namespace when this script made it, are stopped by
# their process id at exit.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
server=pyftpdlib
rtt=
build=$here/build
iterations=3
while getopts "s:r:b:n:" opt; do
  case $opt in
    s) server=$OPTARG ;;
    r) rtt=$OPTARG ;;
    b) build=$(cd "$OPTARG" && pwd) ;;
    n) iterations=$OPTARG ;;
    *) sed -n '2,16p' "$0" >&2; exit 2 ;;
  esac
done
bench=$build/bench/crawl_bench
[ -x "$bench" ] || { echo "no $bench (build the crawl_bench target)" >&2; exit 1; }
for tool in lftp rclone /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/orvane-crawl-compare.XXXXXX)
chmod 0755 "$work"
server_pid=
made_netns=
rtt_dir=$(cd "$here/../shared/tools/rtt" 2>/dev/null && pwd || true)
cleanup() {
  if [ -n "$server_pid" ]; then
    kill -TERM -- "-$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  if [ -n "$made_netns" ]; then "$rtt_dir/teardown.sh" >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the tree ..." >&2
"$bench" --make-tree="$work/tree"

host=127.0.0.1
in_ns=()
if [ -n "$rtt" ]; then
  [ "$(id -u)" = 0 ] || { echo "-r needs root" >&2; exit 1; }
  [ -n "$rtt_dir" ] || { echo "no ../shared/tools/rtt" >&2; exit 1; }
  state=${RTT_STATE_DIR:-${TMPDIR:-/tmp}/orvane-rtt}/netns.env
  if [ -e "$state" ]; then
    echo "the rtt namespace is in use by someone else ($state)" >&2
    exit 1
  fi
  # Set first: a setup that fails half-way is torn down as well.
  made_netns=1
  host=$("$rtt_dir/setup.sh" $((rtt / 2)))
  in_ns=(ip netns exec orvane-rtt)
fi

log=$work/commands.log
: > "$log"
chmod 0666 "$log"
case $server in
  pyftpdlib)
    hex() { printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
    printf '{"host": "%s", "root_hex": "%s", "log_hex": "%s"}\n' \
      "$host" "$(hex "$work/tree")" "$(hex "$log")" > "$work/server.json"
    mkfifo "$work/port" "$work/stdin"
    # The server ends when its standard input does: held open here.
    exec 7<>"$work/stdin"
    setsid "${in_ns[@]}" /usr/bin/python3 "$here/tests/fixtures/ftp_server.py" \
      "$work/server.json" > "$work/port" 2> "$work/server.err" <&7 &
    server_pid=$!
    read -r port < "$work/port"
    log_kind=pyftpdlib
    ;;
  vsftpd)
    [ -x /usr/sbin/vsftpd ] || { echo "vsftpd is not installed" >&2; exit 1; }
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
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
xferlog_enable=YES
xferlog_std_format=NO
log_ftp_protocol=YES
vsftpd_log_file=$log
max_clients=0
max_per_ip=0
EOF
    setsid "${in_ns[@]}" /usr/sbin/vsftpd "$work/vsftpd.conf" \
      > "$work/server.err" 2>&1 < /dev/null &
    server_pid=$!
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; then break; fi
      sleep 0.05
    done
    log_kind=vsftpd
    ;;
  *) echo "unknown server $server" >&2; exit 2 ;;
esac
echo "$server on $host:$port${rtt:+ (RTT $rtt ms)}" >&2

# Commands logged from line $1 on, all but USER and PASS (vsftpd takes an
# anonymous login without PASS), as "total listings".
count_commands() {
  tail -n +"$1" "$log" | /usr/bin/python3 -c '
import re, sys
kind = sys.argv[1]
after = listings = 0
for line in sys.stdin:
    line = line.rstrip("\n")
    if kind == "vsftpd":
        m = re.search(r"FTP command: Client \"[^\"]*\", \"(.*)\"$", line)
        if not m:
            continue
        line = m.group(1)
    verb = line.split(" ", 1)[0].upper()
    if verb in ("USER", "PASS"):
        continue
    after += 1
    listings += verb in ("LIST", "MLSD", "NLST")
print(after, listings)
' "$log_kind"
}
lines() { wc -l < "$log"; }
now() { date +%s.%N; }

dirs=2001

echo "crawl_bench ..." >&2
ORVANE_CRAWL_HOST=$host ORVANE_CRAWL_PORT=$port ORVANE_CRAWL_LOG=$log \
ORVANE_CRAWL_LOG_KIND=$log_kind ORVANE_CRAWL_ITERATIONS=$iterations \
  "$bench" --benchmark_filter=BM_CrawlNewSite --benchmark_out="$work/bench.json" \
  --benchmark_out_format=json >&2
read -r ours ours_cmds ours_rtts ours_cpu ours_cpu_pct < <(/usr/bin/python3 -c '
import json, sys
b = json.load(open(sys.argv[1]))["benchmarks"][0]
if b.get("error_occurred"):
    sys.exit("crawl_bench: " + b.get("error_message", "?"))
print(b["real_time"] / 1000.0, b.get("cmds/dir", 0), b.get("rtts/dir", 0),
      b["cpu_us/entry"], b["cpu%"])
' "$work/bench.json")

echo "lftp ..." >&2
mark=$(( $(lines) + 1 ))
t0=$(now)
lftp -u anonymous,orvane@ftp.cn -e 'find /; quit' "ftp://$host:$port" \
  > "$work/lftp.out" 2> "$work/lftp.err"
t1=$(now)
lftp_time=$(awk "BEGIN { print $t1 - $t0 }")
read -r lftp_cmds lftp_lists < <(count_commands "$mark")
lftp_entries=$(wc -l < "$work/lftp.out")

echo "rclone ..." >&2
mark=$(( $(lines) + 1 ))
t0=$(now)
rclone lsf -R --checkers 1 \
  ":ftp,host=$host,port=$port,user=anonymous,pass=$(rclone obscure orvane@ftp.cn):/" \
  > "$work/rclone.out" 2> "$work/rclone.err"
t1=$(now)
rclone_time=$(awk "BEGIN { print $t1 - $t0 }")
read -r rclone_cmds rclone_lists < <(count_commands "$mark")
rclone_entries=$(wc -l < "$work/rclone.out")

/usr/bin/python3 - "$ours" "$ours_cmds" "$ours_rtts" "$ours_cpu" "$ours_cpu_pct" \
  "$lftp_time" "$lftp_cmds" "$lftp_lists" "$lftp_entries" \
  "$rclone_time" "$rclone_cmds" "$rclone_lists" "$rclone_entries" "$dirs" \
  "$server" "${rtt:-loopback}" <<'EOF'
import sys
a = sys.argv[1:]
ours, ours_cmds, ours_rtts, cpu_entry, cpu_pct = map(float, a[0:5])
lftp_t, lftp_c, lftp_l, lftp_e = float(a[5]), int(a[6]), int(a[7]), int(a[8])
rcl_t, rcl_c, rcl_l, rcl_e = float(a[9]), int(a[10]), int(a[11]), int(a[12])
dirs = int(a[13])
rtt = a[15] if a[15] == "loopback" else a[15] + " ms RTT"
print(f"server {a[14]}, {rtt}; tree: {dirs} directories (root included), 40,020 files")
print(f"{'':8} {'wall s':>9} {'dirs/s':>8} {'ms/dir':>7} {'cmds/dir':>9} {'listings':>8} {'lines out':>9}")
print(f"{'orvane':8} {ours:9.3f} {dirs/ours:8.1f} {ours*1e3/dirs:7.2f} {ours_cmds:9.2f} {'':>8} {'':>9}")
print(f"{'lftp':8} {lftp_t:9.3f} {dirs/lftp_t:8.1f} {lftp_t*1e3/dirs:7.2f} {lftp_c/dirs:9.2f} {lftp_l:8d} {lftp_e:9d}")
print(f"{'rclone':8} {rcl_t:9.3f} {dirs/rcl_t:8.1f} {rcl_t*1e3/dirs:7.2f} {rcl_c/dirs:9.2f} {rcl_l:8d} {rcl_e:9d}")
print(f"orvane round trips/dir {ours_rtts:.2f}; client CPU {cpu_entry:.2f} us/entry, {cpu_pct:.2f}% of wall")
print(f"ratio orvane/lftp   {ours/lftp_t:.3f}  (target <= 0.6)")
print(f"ratio orvane/rclone {ours/rcl_t:.3f}  (target <= 1.0)")
EOF
