#!/usr/bin/env python3
"""Summarises crawl timelines written with ORVANE_CRAWL_TRACE=FILE.

Usage: tools/crawl_trace_summary.py FILE [--crawl ID]

For each crawl in FILE (or only crawl ID): its wall time, and per
connection (0 is the walk's own) the share of the wall time spent logging
in, listing and, for the walk, waiting for a listing another connection is
fetching; the rest is idle (for the walk: merging and walking). Then the
listings in flight: their mean over the crawl and the share of the time
during which 0, 1, 2, ... listings were under way, and the walk's longest
waits.
"""
import collections
import sys


def load(path):
    crawls = collections.OrderedDict()
    with open(path, "rb") as f:
        for raw in f:
            parts = raw.rstrip(b"\n").split(b"\t", 6)
            if len(parts) < 6 or parts[0] != b"crawl":
                continue
            crawl, conn, kind = parts[1].decode(), int(parts[2]), parts[3].decode()
            start, end = float(parts[4]), float(parts[5])
            path = parts[6].decode("utf-8", "replace") if len(parts) > 6 else ""
            crawls.setdefault(crawl, []).append((conn, kind, start, end, path))
    return crawls


def summarise(crawl, spans):
    wall = max(end for _, _, _, end, _ in spans)
    conns = sorted({c for c, *_ in spans})
    listings = sum(1 for _, k, *_ in spans if k in ("list", "listR"))
    print(f"crawl {crawl}: {wall / 1000:.2f} s, {len(conns)} connection(s), "
          f"{listings} listings ({wall / max(listings, 1):.1f} ms each on average)")
    print(f"  {'conn':>4} {'listings':>8} {'login%':>7} {'list%':>7} {'wait%':>7} "
          f"{'other%':>7} {'ms/list':>8}")
    for conn in conns:
        mine = [s for s in spans if s[0] == conn]
        share = collections.Counter()
        for _, kind, start, end, _ in mine:
            share[kind] += end - start
        n = sum(1 for s in mine if s[1] in ("list", "listR"))
        busy = sum(share.values())
        listed = share["list"] + share["listR"] + share["facts"]
        print(f"  {conn:>4} {n:>8} {100 * share['login'] / wall:7.1f} {100 * listed / wall:7.1f} "
              f"{100 * share['wait'] / wall:7.1f} {100 * (wall - busy) / wall:7.1f} "
              f"{(share['list'] + share['listR']) / max(n, 1):8.1f}")
    # Listings in flight over time.
    events = []
    for _, kind, start, end, _ in spans:
        if kind in ("list", "listR"):
            events += [(start, 1), (end, -1)]
    events.sort()
    depth, last, by_depth = 0, 0.0, collections.Counter()
    for t, d in events:
        by_depth[depth] += t - last
        depth, last = depth + d, t
    by_depth[0] += wall - last
    mean = sum(k * v for k, v in by_depth.items()) / wall
    shares = ", ".join(f"{k}: {100 * v / wall:.0f}%" for k, v in sorted(by_depth.items()) if v > 0)
    print(f"  listings in flight: mean {mean:.2f}; time with n under way: {shares}")
    waits = sorted((end - start, path) for _, kind, start, end, path in spans if kind == "wait")
    if waits:
        total = sum(w for w, _ in waits)
        print(f"  walk waited {len(waits)} times, {total / 1000:.2f} s in all; longest: " +
              ", ".join(f"{p} {w:.0f} ms" for w, p in waits[-3:][::-1]))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    crawls = load(sys.argv[1])
    only = sys.argv[sys.argv.index("--crawl") + 1] if "--crawl" in sys.argv else None
    for crawl, spans in crawls.items():
        if only is None or crawl == only:
            summarise(crawl, spans)


if __name__ == "__main__":
    main()
