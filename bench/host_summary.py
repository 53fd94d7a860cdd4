#!/usr/bin/env python3
"""Turns journal_bench's and picture_bench's JSON output into one summary line per figure.

    python3 bench/host_summary.py build/bench-results/host.json [build/bench-results/pictures.json]"""

import json
import sys


def main(*paths):
    runs = []
    for path in paths:
        with open(path) as f:
            runs += json.load(f)["benchmarks"]
    plain = {}
    medians = {}
    for run in runs:
        name = run["run_name"].split("/")[0]
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                medians[name] = run
        else:
            plain.setdefault(name, []).append(run)

    lines = []
    for run in plain.get("BM_RecordHook", []):
        lines.append("record held=%d mean_ns=%.1f p99_ns=%.0f p999_ns=%.0f max_ns=%.0f timer_ns=%.0f"
                     % (run["held"], 1e9 / run["items_per_second"], run["p99_ns"],
                        run["p999_ns"], run["max_ns"], run["timer_ns"]))
    for run in plain.get("BM_PlaybackHook", []):
        lines.append("playback speed=%d mean_ns=%.1f p99_ns=%.0f max_ns=%.0f timeline_error_ms=%.1f"
                     % (run["speed"], 1e9 / run["items_per_second"], run["p99_ns"],
                        run["max_ns"], run["timeline_error_ms"]))
    for label, ours, raw in (("save", "BM_Save", "BM_RawWrite"),
                             ("load", "BM_LoadValidate", "BM_RawRead")):
        if ours in medians and raw in medians:
            a = medians[ours]["bytes_per_second"] / 1e6
            b = medians[raw]["bytes_per_second"] / 1e6
            lines.append("%s events=1000000 mb_per_s=%.0f raw_mb_per_s=%.0f ratio=%.2f"
                         % (label, a, b, a / b))
    for run in plain.get("BM_MemoryPerEvent", []):
        events = int(run["run_name"].split("/")[1])
        lines.append("memory events=%d bytes_per_event=%.2f loaded_bytes_per_event=%.2f"
                     % (events, run["bytes_per_event"], run["loaded_bytes_per_event"]))
    for run in plain.get("BM_Search", []):
        dpi = int(run["run_name"].split("/")[1])
        lines.append("picture-search window=%dx%d dpi=%d ms=%.2f found=%d"
                     % (1000 * dpi // 96, 700 * dpi // 96, dpi, run["real_time"], run["found"]))
    for run in plain.get("BM_Compare", []):
        lines.append("picture-compare us=%.1f matches=%d picture_bytes=%d"
                     % (run["real_time"], run["matches"], run["picture_bytes"]))
    print("\n".join(lines))


if __name__ == "__main__":
    main(*sys.argv[1:])
