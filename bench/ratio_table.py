#!/usr/bin/env python3
"""Prints the benchmark suite's comparisons as a table of ratios, all taken from one run.

Usage: ratio_table.py RESULTS.json [--markdown] [--check] [--before EARLIER.json]

RESULTS.json is Google Benchmark's JSON output of sl_bench. With repetitions the fastest of each
benchmark is used (and the largest allocation count). Every row compares one alternative with
the module's own benchmark of the group: "speed" is how fast the module is relative to it
(2.00x: the module does the same work in half the time; 0.50x: in twice the time). Rows with a
target say whether it is met. Times never fail a run, so the table also serves quick runs whose
times mean little; --check makes the exit status 1 only when a benchmark of the table is
missing or reported an error. --before adds, in the Markdown table, each row's speed in an
earlier run (say, of the code before a change, on the same machine).
"""

import json
import sys

KIB = 1024


def size_label(size):
    if size >= 1 << 20 and size % (1 << 20) == 0:
        return f"{size >> 20} MiB"
    if size >= KIB and size % KIB == 0:
        return f"{size // KIB} KiB"
    return f"{size} B"


class Row:
    """One alternative compared with the group's own benchmark."""

    def __init__(self, name, label, target=None, paired=False, baseline=None):
        self.name = name
        self.label = label
        self.target = target  # (kind, value): kind "speed>=", "speed>" or "extra_ns<="
        # The speed is the benchmark's own "paired_speed" counter: both sides measured in
        # alternation inside one benchmark (its time is that of both sides together).
        self.paired = paired
        # (module's, other's) benchmark of a baseline case: the speed is then the module's speed
        # relative to its own baseline, over the other's relative to its baseline (how a change
        # of case, say more threads, treats the module compared with how it treats the other).
        self.baseline = baseline


class Comparison:
    def __init__(self, title, ours, label, rows, metric="time"):
        self.title = title
        self.ours = ours
        self.label = label
        self.rows = rows
        self.metric = metric  # "time": time per operation; "rate": bytes or items per second


def comparisons(context):
    read_file = size_label(int(context.get("sl_read_file_bytes", 64 << 20)))
    write_bytes = size_label(int(context.get("sl_write_bytes", 4 << 20)))
    entries = context.get("sl_search_entries", "10000")
    # Built where libzip is found (Linux): a deflated zip member read through a stream.
    zip = [
        Comparison(f"Zip read stream: a {read_file} deflated member (text, about 3:1), 64 KiB "
                   "requests", "ZipRead/stream/65536/real_time", "ReadStream 64 KiB", [
                       Row("ZipRead/libzip_fread/65536/real_time",
                           "libzip's own loop: zip_fread of 64 KiB (the limit)"),
                       Row("ZipRead/paired_stream_libzip/65536/manual_time",
                           "stream and zip_fread loop alternating (time of both)",
                           ("speed>=", 0.9), paired=True),
                   ], metric="rate"),
    ] if context.get("sl_zip") == "1" else []
    return [
        Comparison(f"File read stream: a {read_file} file in the page cache, 64 KiB requests",
                   "FileRead/stream/65536/real_time", "ReadStream 64 KiB", [
                       Row("FileRead/raw_read/4096/real_time",
                           "raw read() of 4096 bytes (the limit)"),
                       Row("FileRead/paired_stream_raw/65536/manual_time",
                           "stream and raw loop alternating (time of both)",
                           ("speed>=", 0.9), paired=True),
                       Row("FileRead/ifstream/65536/real_time", "std::ifstream::read 64 KiB",
                           ("speed>", 1.0)),
                       Row("FileRead/fread/65536/real_time", "fread 64 KiB", ("speed>", 1.0)),
                       Row("FileRead/raw_read/65536/real_time",
                           "raw read() of 64 KiB (one OS call per request)"),
                       Row("FileRead/fs_ReadFile/4096/real_time",
                           "ReadFile entry, 4096 bytes per call (no stream)"),
                   ], metric="rate"),
        Comparison(f"File read stream: a {read_file} file in the page cache, 16-byte requests",
                   "FileRead/stream/16/real_time", "ReadStream 16 B", [
                       Row("FileRead/raw_read/4096/real_time",
                           "raw read() of 4096 bytes (the limit)"),
                       Row("FileRead/ifstream/16/real_time", "std::ifstream::read 16 B"),
                       Row("FileRead/fread/16/real_time", "fread 16 B"),
                   ], metric="rate"),
        Comparison(f"File write stream: {write_bytes} then close, 64 KiB requests",
                   "FileWrite/stream/65536/real_time", "WriteStream 64 KiB", [
                       Row("FileWrite/raw_write/4096/real_time",
                           "raw write() of 4096 bytes (the limit)"),
                       Row("FileWrite/fwrite/65536/real_time", "fwrite 64 KiB"),
                   ], metric="rate"),
        Comparison(f"File write stream: {write_bytes} then close, 100-byte requests",
                   "FileWrite/stream/100/real_time", "WriteStream 100 B", [
                       Row("FileWrite/raw_write/4096/real_time",
                           "raw write() of 4096 bytes (the limit)"),
                       Row("FileWrite/fwrite/100/real_time", "fwrite 100 B"),
                   ], metric="rate"),
        Comparison("File write stream: 100 bytes written, then flushed",
                   "FileWrite/stream_flush/100/real_time", "WriteStream + FlushStream", [
                       Row("FileWrite/raw_write_fsync/100/real_time", "raw write() + fsync()"),
                   ]),
        Comparison("Memory stream: open, one 1 MiB read, close",
                   "MemRead/stream/1048576/real_time", "ReadStream 1 MiB", [
                       Row("MemRead/memcpy/1048576/real_time", "memcpy 1 MiB (the limit)",
                           ("speed>=", 0.9)),
                   ]),
    ] + [
        Comparison(f"Memory stream: {n}-byte reads", f"MemRead/stream/{n}/real_time",
                   f"ReadStream {n} B", [
                       Row(f"MemRead/boost_stream/{n}/real_time",
                           f"Boost.Iostreams stream, istream::read {n} B",
                           ("speed>=", 1 / 1.2)),
                   ]) for n in (1, 16, 64)
    ] + [
        Comparison("Callback read stream: bytes per second through a trivial callback",
                   "CallbackRead/stream/65536/real_time", "ReadStream 64 KiB", [
                       Row("CallbackRead/direct/4096/real_time",
                           "the callback called directly, 4096-byte blocks"),
                   ], metric="rate"),
        Comparison("Callback read stream: bytes per second through a trivial callback",
                   "CallbackRead/stream/16/real_time", "ReadStream 16 B", [
                       Row("CallbackRead/direct/4096/real_time",
                           "the callback called directly, 4096-byte blocks"),
                   ], metric="rate"),
        Comparison("Callback write stream: bytes per second through a trivial callback",
                   "CallbackWrite/stream/65536/real_time", "WriteStream 64 KiB", [
                       Row("CallbackWrite/direct/4096/real_time",
                           "the callback called directly, 4096-byte blocks"),
                   ], metric="rate"),
        Comparison("Callback write stream: bytes per second through a trivial callback",
                   "CallbackWrite/stream/100/real_time", "WriteStream 100 B", [
                       Row("CallbackWrite/direct/4096/real_time",
                           "the callback called directly, 4096-byte blocks"),
                   ], metric="rate"),
        Comparison("Callback write stream: 100 bytes written, then flushed",
                   "CallbackWrite/stream_flush/100/real_time", "WriteStream + FlushStream", [
                       Row("CallbackWrite/direct_flush/100/real_time",
                           "Write and Flush called directly"),
                   ]),
        Comparison("Entry cost: a successful call", "Entry/GetCount",
                   "SLFileSystemSearchResult::GetCount", [
                       Row("Entry/plain_indirect", "plain indirect call", ("extra_ns<=", 5.0)),
                   ]),
        Comparison("Entry cost: a successful call", "Entry/GetFileSystemName",
                   "SLFileSystem::GetFileSystemName", [
                       Row("Entry/plain_indirect", "plain indirect call", ("extra_ns<=", 5.0)),
                   ]),
        Comparison("Entry cost: a failing call, later failures on one thread",
                   "Entry/later_failure", "GetFileInfo out of range (code 3)", [
                       Row("Entry/plain_indirect", "plain indirect call"),
                       Row("Entry/GetCount", "a successful entry call"),
                   ]),
        Comparison("Entry cost: the first failure on a thread (new object each time)",
                   "Entry/new_object_first_failure", "create, failing call, Release", [
                       Row("Entry/new_object_success", "create, successful call, Release"),
                   ]),
        Comparison("References: AddRef/Release pairs on one object, one thread",
                   "Refs/AddRef_Release/real_time/threads:1", "AddRef + Release", [
                       Row("Refs/shared_ptr_copy/real_time/threads:1",
                           "std::shared_ptr copy + destroy"),
                   ]),
        Comparison("References: AddRef/Release pairs on one object, two threads at once",
                   "Refs/AddRef_Release/real_time/threads:2", "AddRef + Release", [
                       Row("Refs/shared_ptr_copy/real_time/threads:2",
                           "std::shared_ptr copy + destroy"),
                   ]),
    ] + [
        Comparison(f"Open, read 4 KiB, close: {n} thread{'s' if n > 1 else ''} at once, each on "
                   "files of its own", f"Threads/fs_open_read_close/real_time/threads:{n}",
                   "OpenFile + ReadFile + CloseFile", [
                       Row(f"Threads/raw_open_read_close/real_time/threads:{n}",
                           "open() + read() + close()",
                           ("speed>=", 0.8) if n == 2 else None),
                       Row(f"Threads/raw_open_fstat_read_close/real_time/threads:{n}",
                           "open() + fstat() + read() + close()"),
                   ] + ([
                       Row(f"Threads/raw_open_read_close/real_time/threads:{n}",
                           f"the same at 1 thread: what {n} threads cost each side",
                           ("speed>=", 0.95), baseline=(
                               "Threads/fs_open_read_close/real_time/threads:1",
                               "Threads/raw_open_read_close/real_time/threads:1")),
                   ] if n > 1 else []), metric="rate") for n in (1, 2, 4)
    ] + [
        Comparison(f"Search: a folder of {entries} files, every name read back",
                   "Search/Search/real_time", "Search + GetCount + GetFileInfo each", [
                       Row("Search/readdir/real_time", "opendir/readdir loop"),
                   ]),
    ] + zip


TIME_SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def median(values):
    if not values:
        return None
    values = sorted(values)
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def load(path):
    """Each benchmark's fastest repetition (a busy machine only ever adds time, to either side),
    or its median when the file holds aggregates only."""
    with open(path) as handle:
        data = json.load(handle)
    runs = {}
    medians = {}
    for run in data.get("benchmarks", []):
        name = run.get("run_name", run["name"])
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                medians[name] = run
        else:
            runs.setdefault(name, []).append(run)
    results = {}
    for name in set(runs) | set(medians):
        candidates = runs.get(name) or [medians[name]]
        failed = [run for run in candidates if run.get("error_occurred")]
        if failed:
            results[name] = {"error": failed[0].get("error_message", "error")}
            continue
        scale = lambda run: run["real_time"] * TIME_SCALE[run.get("time_unit", "ns")]
        best = min(candidates, key=scale)
        results[name] = {
            "ns": scale(best),
            "rate": best.get("bytes_per_second") or best.get("items_per_second"),
            "bytes": "bytes_per_second" in best,
            "allocs": max((run.get("allocs_per_op") for run in candidates
                           if run.get("allocs_per_op") is not None), default=None),
            "paired": median([run["paired_speed"] for run in candidates
                              if run.get("paired_speed") is not None]),
        }
    return data.get("context", {}), results


def format_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def format_rate(result):
    rate = result["rate"]
    if rate is None:
        return ""
    if result["bytes"]:
        return f"{rate / 1e9:.3g} GB/s" if rate >= 1e9 else f"{rate / 1e6:.3g} MB/s"
    return f"{rate / 1e6:.3g} M/s"


def speed(comparison, ours, other):
    if comparison.metric == "rate":
        return ours["rate"] / other["rate"]
    return other["ns"] / ours["ns"]


def judge(target, ours, other, ratio):
    kind, value = target
    if kind == "speed>=":
        return ratio >= value, f">= {value:.2f}x"
    if kind == "speed>":
        return ratio > value, f"> {value:.2f}x"
    extra = ours["ns"] - other["ns"]
    return extra <= value, f"<= +{value:g} ns"


def measured(result):
    """Time per operation, with the rate when there is one."""
    rate = format_rate(result)
    return f"{format_time(result['ns'])} ({rate})" if rate else format_time(result["ns"])


def pairs(context, results):
    """Every (comparison, row, ours, other, speed, verdict) of the run, in table order; ours or
    other is None when that benchmark did not run or failed."""
    for comparison in comparisons(context):
        ours = results.get(comparison.ours)
        ours = None if ours is None or "error" in ours else ours
        for row in comparison.rows:
            other = results.get(row.name)
            other = None if other is None or "error" in other else other
            ratio = verdict = None
            if row.paired and other is not None and other.get("paired") is None:
                other = None
            if row.baseline is not None and other is not None:
                bases = [results.get(name) for name in row.baseline]
                if any(base is None or "error" in base for base in bases):
                    other = None
            if ours is not None and other is not None:
                ratio = other["paired"] if row.paired else speed(comparison, ours, other)
                if row.baseline is not None:
                    ratio /= speed(comparison, *(results[name] for name in row.baseline))
                if row.target is not None:
                    verdict = judge(row.target, ours, other, ratio)
            yield comparison, row, ours, other, ratio, verdict


def speed_text(comparison, ours, other, ratio):
    if ratio is None:
        return "not run"
    text = f"{ratio:.2f}x"
    extra = ours["ns"] - other["ns"]
    if comparison.metric == "time" and abs(extra) < 1000:
        text += f" ({extra:+.1f} ns)"
    return text


def text_table(context, results):
    lines = []
    widths = (52, 22, 18, 12, 6)
    title = None  # consecutive comparisons with one title share its heading
    for comparison, row, ours, other, ratio, verdict in pairs(context, results):
        if row is comparison.rows[0]:
            if comparison.title != title:
                title = comparison.title
                lines += ["", title]
            mine = measured(ours) if ours is not None else "not run"
            lines.append(f"  {(comparison.label + ' (module)').ljust(widths[0])}{mine}")
        cells = [row.label, measured(other) if other is not None else "not run",
                 speed_text(comparison, ours, other, ratio)]
        if verdict is not None:
            ok, target = verdict
            cells += [target, "met" if ok else "MISSED"]
        lines.append("  " + "".join(c.ljust(w) for c, w in zip(cells, widths)).rstrip())
    lines += ["", "Allocations per steady-state operation (reads, writes and flushes: 0 expected)"]
    for name, result in sorted(results.items()):
        if result.get("allocs") is not None:
            lines.append(f"  {name.ljust(widths[0])}{result['allocs']:.3g}")
    return lines


def earlier_speeds(before):
    """The speed of each row in an earlier run, by (comparison, module, beside)."""
    if before is None:
        return None
    context, results = before
    return {(c.title, c.label, row.label): speed_text(c, ours, other, ratio)
            for c, row, ours, other, ratio, _ in pairs(context, results)}


def markdown_table(context, results, before=None):
    earlier = earlier_speeds(before)
    head = ["comparison", "module", "time/op (rate)", "beside", "time/op (rate)", "speed",
            "target"]
    if earlier is not None:
        head.insert(5, "speed before")
    lines = ["| " + " | ".join(head) + " |", "|" + " --- |" * len(head)]
    for comparison, row, ours, other, ratio, verdict in pairs(context, results):
        target = ""
        if verdict is not None:
            ok, text = verdict
            target = f"{text} {'met' if ok else '**missed**'}"
        first = row is comparison.rows[0]  # the module's side is shown once per comparison
        cells = [comparison.title if first else "", comparison.label if first else "",
                 (measured(ours) if ours else "not run") if first else "",
                 row.label, measured(other) if other else "not run",
                 speed_text(comparison, ours, other, ratio), target]
        if earlier is not None:
            cells.insert(5, earlier.get((comparison.title, comparison.label, row.label), "-"))
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", "| benchmark | allocations per operation |", "| --- | --- |"]
    for name, result in sorted(results.items()):
        if result.get("allocs") is not None:
            lines.append(f"| {name} | {result['allocs']:.3g} |")
    return lines


def table(context, results, markdown, before=None):
    lines = (markdown_table(context, results, before) if markdown
             else text_table(context, results))
    verdicts = [v for *_, v in pairs(context, results) if v is not None]
    met = sum(1 for ok, _ in verdicts if ok)
    lines += ["", f"targets: {met} met, {len(verdicts) - met} missed"]
    return "\n".join(lines)


def problems(context, results):
    """Benchmarks of the table that are missing from the results or reported an error."""
    found = []
    for comparison in comparisons(context):
        for name in [comparison.ours] + [row.name for row in comparison.rows]:
            result = results.get(name)
            if result is None:
                found.append(f"{name}: not in the results")
            elif "error" in result:
                found.append(f"{name}: {result['error']}")
    return sorted(set(found))


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    context, results = load(argv[1])
    before = None
    if "--before" in argv[2:-1]:
        before = load(argv[argv.index("--before") + 1])
    print(table(context, results, "--markdown" in argv[2:], before))
    if "--check" in argv[2:]:
        broken = problems(context, results)
        for line in broken:
            print(f"broken benchmark: {line}", file=sys.stderr)
        return 1 if broken else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
