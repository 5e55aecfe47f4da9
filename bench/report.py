#!/usr/bin/env python3
"""Turns one benchmark run into the table of docs/performance.md.

    report.py --bench benchmarks.json [--footprint footprint.json]
              [--size NAME=FILE ...] [--before results.json] --out results.json

Prints a Markdown table (every figure beside its floor, the ratio and the
goal) and writes the same rows as JSON. With --before, each ratio is shown
beside the ratio of an earlier run's results file.
"""
import argparse
import json
import os
import re
import sys

# benchmark -> (title, [(ratio counter, floor counter, goal text, goal test, which N)])
# A goal applies to the N listed, or to every N when that is None.
RATIOS = {
    "BM_ForwardTransaction2": (
        "ForwardTransaction2 through the export",
        [("x_floor", "floor_us", "<= 1.3", lambda r: r <= 1.3, None),
         ("x_sqlite", "sqlite_us", "<= 1.5 (SQLite)", lambda r: r <= 1.5, None)]),
    "BM_HostCallGateReads": (
        "  its part: the gates' 5 INI reads",
        [("x_floor", "floor_us", "<= 1.3", lambda r: r <= 1.3, None)]),
    "BM_HostCallAddTransaction": (
        "  its part: AddTransaction (in process)",
        [("x_floor", "floor_us", "<= 1.5", lambda r: r <= 1.5, None)]),
    "BM_HostCallBesideDeliver": (
        "  AddTransaction beside a deliver that looks without pause",
        [("x_floor", "floor_us", "", lambda r: True, -1)]),
    "BM_LogEntry": (
        "one log entry",
        [("x_floor", "floor_us", "<= 1.3", lambda r: r <= 1.3, None)]),
    "BM_ExchangeTcp": (
        "exchange, TCP DMS",
        [("x_floor", "floor_us", "<= 1.3", lambda r: r <= 1.3, None)]),
    "BM_ExchangeHttp": (
        "exchange, HTTP DMS",
        [("x_floor", "floor_us", "<= 1.3", lambda r: r <= 1.3, None)]),
    "BM_ExchangeSettingsReads": (
        "exchange's 8 settings values (bound)",
        [("x_floor", "floor_us", "<= 1.5", lambda r: r <= 1.5, None)]),
    "BM_CacheReadLast": (
        "GetCacheIndex of the last line",
        [("x_floor", "floor_us", "<= 1.5 at 10,000", lambda r: r <= 1.5, 10000)]),
    "BM_CacheRemove": (
        "removal of a line",
        [("x_floor", "floor_us", "<= 1.5 at 10,000", lambda r: r <= 1.5, 10000),
         ("x_durable", "durable_us", "", lambda r: True, -1)]),
    "BM_CacheMoveToEnd": (
        "move of a line to the end",
        [("x_floor", "floor_us", "<= 1.5 at 10,000", lambda r: r <= 1.5, 10000),
         ("x_durable", "durable_us", "", lambda r: True, -1)]),
    "BM_WorkerDeliveryBehindParked": (
        "delivery behind P parked lines",
        [("x_alone_read", None, "<= 3 x (alone + read) at 10,000", lambda r: r <= 3.0, 10000)]),
    "BM_WorkerDrain": (
        "draining a backlog",
        [("share_of_bound", "bound_per_second", ">= 0.95 of the pause's bound",
          lambda r: r >= 0.95, None)]),
}


def load_rows(path):
    with open(path) as f:
        data = json.load(f)
    rows = []
    for bench in data.get("benchmarks", []):
        match = re.match(r"^(BM_\w+)(?:/(\d+))?", bench["name"])
        if not match or match.group(1) not in RATIOS:
            continue
        name, n = match.group(1), int(match.group(2)) if match.group(2) else None
        title, ratios = RATIOS[name]
        for counter, floor, goal, test, goal_n in ratios:
            if counter not in bench:
                continue
            ratio = bench[counter]
            applies = goal_n is None or goal_n == n
            if name == "BM_WorkerDrain":
                op, floor_value = bench.get("per_second"), bench.get("bound_per_second")
                unit = "/s"
            elif name == "BM_WorkerDeliveryBehindParked":
                op = bench.get("op_us")
                floor_value = bench.get("alone_us", 0) + bench.get("read_us", 0)
                unit = "us"
            else:
                op, floor_value = bench.get("op_us"), bench.get(floor)
                unit = "us"
            rows.append({
                "benchmark": name, "title": title, "n": n, "ratio_name": counter,
                "op": op, "floor": floor_value, "unit": unit, "ratio": ratio,
                "goal": goal if applies else "", "met": bool(test(ratio)) if applies else None,
                "error": bench.get("error_message"),
            })
    return data.get("context", {}), rows


def key(row):
    return (row["benchmark"], row["n"], row["ratio_name"])


def fmt(value, unit="us"):
    if value is None:
        return "-"
    if unit == "/s":
        return "%.1f/s" % value
    return "%.0f" % value if value >= 100 else "%.1f" % value


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--footprint")
    parser.add_argument("--size", action="append", default=[])
    parser.add_argument("--before")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    context, rows = load_rows(args.bench)
    before = {}
    if args.before:
        with open(args.before) as f:
            for row in json.load(f)["rows"]:
                before[key(row)] = row

    head = "| measure | N / P | figure | floor | ratio | goal | met |"
    if before:
        head = "| measure | N / P | figure | floor | ratio | before | goal | met |"
    print(head)
    print("|" + "---|" * (head.count("|") - 1))
    for row in rows:
        n = "" if row["n"] is None else "{:,}".format(row["n"])
        label = row["title"] + {"x_sqlite": " vs SQLite",
                                "x_durable": " vs a durable floor (folder synced)"}.get(
                                    row["ratio_name"], "")
        met = "" if row["met"] is None else ("yes" if row["met"] else "NO")
        cells = [label, n, fmt(row["op"], row["unit"]), fmt(row["floor"], row["unit"]),
                 "%.2f" % row["ratio"]]
        if before:
            old = before.get(key(row))
            cells.append("%.2f" % old["ratio"] if old else "-")
        cells += [row["goal"], met]
        if row["error"]:
            cells[-1] = "ERROR: " + row["error"]
        print("| " + " | ".join(cells) + " |")

    result = {"context": context, "rows": rows}
    if args.footprint and os.path.exists(args.footprint):
        with open(args.footprint) as f:
            result["footprint"] = json.load(f)
        fp = result["footprint"]
        print()
        print("Resident memory a host gains: %d KiB by loading the module, %d KiB by loading "
              "and starting the service." % (fp["gain_load_kib"], fp["gain_load_and_start_kib"]))
    sizes = {}
    for item in args.size:
        name, _, path = item.partition("=")
        if os.path.exists(path):
            sizes[name] = os.path.getsize(path)
    if sizes:
        result["module_sizes"] = sizes
        print()
        for name, size in sizes.items():
            print("Module %s: %s bytes" % (name, "{:,}".format(size)))
    with open(args.out, "w") as f:
        json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
