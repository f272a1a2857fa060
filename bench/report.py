#!/usr/bin/python3
"""Turns the raw timings of bench/compare.sh into RESULTS.md and a gnuplot chart of the ratios.

Inputs (tab-separated):
  raw     workload, client, run, seconds, ok|fail|timeout
  counts  workload, client, commands, ok|fail, verb=count list
  handshakes  workload, client, full handshakes, resumed ones, ok|fail, protocol and cipher
  mem     client, peak resident set in KiB
  meta    key, value
"""

import argparse
import math
import statistics

CLIENT_NAMES = {
    "oxlip": "Oxlip (oxlip-ftp)",
    "curl": "curl",
    "lftp": "lftp, one connection",
    "lftp-default": "lftp, default settings",
    "oxlip-p4": "Oxlip, 4 connections (--parallel 4)",
    "curl-p4": "curl, 4 connections (--parallel-max 4)",
    "lftp-p4": "lftp, 4 connections (--parallel=4)",
    "dd": "dd conv=fdatasync",
}
PEERS = ["curl", "lftp", "lftp-default"]
CHART_PEERS = {"curl": "vs curl", "lftp": "vs lftp (one connection)",
               "lftp-default": "vs lftp (default)"}

# workload -> (title, unit, kind): kind "rate" turns seconds into amount/s, "time" keeps seconds.
WORKLOADS = [
    ("big_down", "Big file download", "MB/s", "rate"),
    ("big_up", "Big file upload", "MB/s", "rate"),
    ("tree_down", "Tree download", "files/s", "rate"),
    ("tree_up", "Tree upload", "files/s", "rate"),
    ("list", "Listing", "s", "time"),
]


# The latency part's workloads and the durable replace, reported in their own sections.
EXTRA_WORKLOADS = [
    ("lat_down", "Tree download, replies late", "files/s", "rate"),
    ("lat_up", "Tree upload, replies late", "files/s", "rate"),
    ("replace", "1 GiB download over an existing file", "s", "time"),
]
# The FTPS part: the big file and the tree over TLS, in their own section.
FTPS_WORKLOADS = [
    ("ftps_big_down", "Big file download", "MB/s", "rate"),
    ("ftps_big_up", "Big file upload", "MB/s", "rate"),
    ("ftps_tree_down", "Tree download", "files/s", "rate"),
    ("ftps_tree_up", "Tree upload", "files/s", "rate"),
]
FTPS_CLIENTS = ["oxlip", "curl", "lftp"]
LAT_CLIENTS = ["oxlip", "oxlip-p4", "lftp", "lftp-p4", "curl", "curl-p4"]

# The ratio each workload should reach.
TARGETS = {"big_down": 1.2, "big_up": 1.2, "tree_down": 1.5, "tree_up": 1.5, "list": 2.0}


def read_tsv(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line:
                rows.append(line.split("\t"))
    return rows


def amount(meta, workload):
    """What one run moves: MB (10^6 bytes) for the big file, files for the tree."""
    workload = workload[len("ftps_"):] if workload.startswith("ftps_") else workload
    if workload.startswith("big"):
        return int(meta["big_mb"]) * 1048576 / 1e6
    if workload.startswith("tree"):
        return int(meta["tree_files"])
    if workload.startswith("lat"):
        return int(meta["lat_files"])
    return None


def figures(raw, meta):
    """(workload, client) -> dict(median, lo, hi, ok, runs) in the workload's unit."""
    by_key = {}
    for w, c, _run, secs, status in raw:
        by_key.setdefault((w, c), []).append((float(secs), status))
    out = {}
    for (w, c), runs in by_key.items():
        good = [s for s, st in runs if st == "ok"]
        entry = {"runs": len(runs), "ok": len(good)}
        if good and len(good) == len(runs):
            kind = dict((k, kd) for k, _t, _u, kd in WORKLOADS + EXTRA_WORKLOADS + FTPS_WORKLOADS)[w]
            if kind == "rate":
                vals = [amount(meta, w) / s for s in good]
            else:
                vals = good
            entry.update(median=statistics.median(vals), lo=min(vals), hi=max(vals))
        out[(w, c)] = entry
    return out


def ratio(fig, w, kind, peer, mine="oxlip"):
    """Oxlip's speed over the peer's: above 1 means Oxlip is faster."""
    a, b = fig.get((w, mine), {}), fig.get((w, peer), {})
    if "median" not in a or "median" not in b:
        return None
    return a["median"] / b["median"] if kind == "rate" else b["median"] / a["median"]


def fmt(v, unit):
    if v is None:
        return "–"
    if unit == "s":
        return "%.3f" % v
    if v >= 100:
        return "{:,.0f}".format(v)
    return "%.1f" % v


def noisy(e):
    """The runs of one figure differ more than twofold."""
    return "median" in e and e["lo"] > 0 and e["hi"] / e["lo"] > 2


def noise_notes(fig):
    flagged = [(w, c) for (w, c), e in fig.items() if noisy(e)]
    if not flagged:
        return []
    notes = ["† The runs of this figure differ more than twofold: the machine was busy (other "
             "work on the same cores), or the client stalls now and then."]
    if any(c == "curl" and w.startswith("tree") for w, c in flagged):
        notes.append("curl moving many files in one run sometimes waits a whole second after a "
                     "passive-mode reply before it connects (strace shows a 1000 ms poll on its "
                     "internal wake-up pipe), which makes its tree figures vary widely.")
    return [" ".join(notes)]


def results_table(fig):
    lines = ["| Workload | Client | Median | Min–max | Oxlip ÷ this client |",
             "| --- | --- | ---: | ---: | ---: |"]
    for w, title, unit, kind in WORKLOADS:
        for c in ["oxlip"] + PEERS:
            e = fig.get((w, c))
            if e is None:
                continue
            if "median" in e:
                med = "%s %s" % (fmt(e["median"], unit), unit)
                rng = "%s–%s%s" % (fmt(e["lo"], unit), fmt(e["hi"], unit), " †" if noisy(e) else "")
            else:
                med, rng = "failed (%d of %d runs)" % (e["runs"] - e["ok"], e["runs"]), ""
            r = ratio(fig, w, kind, c) if c != "oxlip" else None
            rtxt = "%.2f×" % r if r is not None else ("" if c == "oxlip" else "–")
            lines.append("| %s | %s | %s | %s | %s |" % (title, CLIENT_NAMES[c], med, rng, rtxt))
    return lines


def summary_table(fig):
    """One line per workload: every client's median side by side (for a README)."""
    lines = ["| Workload | Oxlip | curl | lftp (one connection) | lftp (default) |",
             "| --- | ---: | ---: | ---: | ---: |"]
    for w, title, unit, kind in WORKLOADS:
        cells = []
        for c in ["oxlip"] + PEERS:
            e = fig.get((w, c))
            if e is None:
                cells.append("")
            elif "median" not in e:
                cells.append("failed")
            else:
                r = ratio(fig, w, kind, c) if c != "oxlip" else None
                cells.append("%s %s%s" % (fmt(e["median"], unit), unit,
                                          " (%.2f×)" % r if r is not None else ""))
        lines.append("| %s | %s |" % (title, " | ".join(cells)))
    return lines


def targets_table(fig, mem):
    def best_peer_ratio(w, peers):
        rs = [(ratio(fig, w, "rate", p), p) for p in peers]
        rs = [x for x in rs if x[0] is not None]
        return min(rs) if rs else (None, None)

    rows = []
    for w, title in [("big_down", "Big file download"), ("big_up", "Big file upload")]:
        r, p = best_peer_ratio(w, ["curl", "lftp"])
        rows.append((title, "≥ 1.2× the faster of curl and lftp", r, p, r is not None and r >= 1.2))
    for w, title in [("tree_down", "Tree download"), ("tree_up", "Tree upload")]:
        r = ratio(fig, w, "rate", "lftp")
        rows.append((title, "≥ 1.5× lftp mirror --parallel=1", r, "lftp", r is not None and r >= 1.5))
    r = ratio(fig, "list", "time", "lftp")
    rows.append(("Listing", "≤ half of lftp cls -l time (≥ 2.0×)", r, "lftp", r is not None and r >= 2.0))
    lines = ["| Figure | Target | Measured | Met |", "| --- | --- | ---: | :---: |"]
    for title, target, r, p, met in rows:
        meas = "%.2f× (vs %s)" % (r, p) if r is not None else "–"
        lines.append("| %s | %s | %s | %s |" % (title, target, meas, "yes" if met else "no"))
    kb = mem.get("oxlip")
    if kb is not None:
        mb = kb / 1024
        lines.append("| Listing peak memory | < 100 MB | %.1f MB | %s |" % (mb, "yes" if mb < 100 else "no"))
    else:
        lines.append("| Listing peak memory | < 100 MB | – | no |")
    return lines


def cell(e, unit):
    if e is None:
        return "–"
    if "median" not in e:
        return "failed (%d of %d runs)" % (e["runs"] - e["ok"], e["runs"])
    return "%s %s (%s–%s)%s" % (fmt(e["median"], unit), unit, fmt(e["lo"], unit),
                                fmt(e["hi"], unit), " †" if noisy(e) else "")


def latency_section(fig, meta):
    if not any(w.startswith("lat") for w, _c in fig):
        return []
    md = ["## Over a link with latency", "",
          "Against `bench/latency_ftpd.py` (pyftpdlib %s) on 127.0.0.1, which holds back every "
          "reply on the control connection by %s ms in its event loop (about a %s ms round trip; "
          "data connections are not delayed). Tree: %s files of %s KiB in %s folders. Median of %s "
          "runs, min–max in brackets; files per second."
          % (meta.get("pyftpdlib", "?"), meta.get("rtt_ms", "?"), meta.get("rtt_ms", "?"),
             meta.get("lat_files", "?"), meta.get("tree_kb", "?"), meta.get("lat_dirs", "?"),
             meta.get("runs", "?")), "",
          "| Client | Tree download | Tree upload |", "| --- | ---: | ---: |"]
    for c in LAT_CLIENTS:
        if c == "oxlip-p4" and meta.get("oxlip_parallel") != "1":
            md.append("| %s | not measured: oxlip-ftp has no --parallel yet | |" % CLIENT_NAMES[c])
            continue
        if (("lat_down", c) not in fig) and (("lat_up", c) not in fig):
            continue
        md.append("| %s | %s | %s |" % (CLIENT_NAMES[c], cell(fig.get(("lat_down", c)), "files/s"),
                                         cell(fig.get(("lat_up", c)), "files/s")))
    md += ["", "| Figure | Target | Download | Upload | Met |", "| --- | --- | ---: | ---: | :---: |"]
    for mine, peer, target in [("oxlip", "lftp", "≥ 1.2× lftp mirror --parallel=1"),
                               ("oxlip-p4", "lftp-p4", "≥ 1.2× lftp mirror --parallel=4")]:
        rs = [ratio(fig, w, "rate", peer, mine) for w in ("lat_down", "lat_up")]
        txt = ["%.2f×" % r if r is not None else "–" for r in rs]
        met = "yes" if all(r is not None and r >= 1.2 for r in rs) else "no"
        md.append("| %s | %s | %s | %s | %s |" % (CLIENT_NAMES[mine], target, txt[0], txt[1], met))
    return md + [""]


def replace_section(fig):
    a, b = fig.get(("replace", "oxlip")), fig.get(("replace", "dd"))
    if a is None and b is None:
        return []
    md = ["## Durable replace", "",
          "The big file downloaded from vsftpd over an existing copy of itself: Oxlip receives it "
          "under a hidden name, flushes it to the disk and renames it over the old one; dd writes "
          "the same bytes from the page cache over such a copy with `conv=fdatasync`. Seconds, "
          "median (min–max).", "",
          "| Oxlip | dd conv=fdatasync | Oxlip ÷ dd | Target | Met |", "| ---: | ---: | ---: | --- | :---: |"]
    r = a["median"] / b["median"] if a and b and "median" in a and "median" in b else None
    md.append("| %s | %s | %s | ≤ 1.10× dd's time | %s |" % (
        cell(a, "s"), cell(b, "s"), "%.2f×" % r if r is not None else "–",
        "yes" if r is not None and r <= 1.10 else "no"))
    return md + [""]


FTPS_MARKS = ("<!-- the ftps part writes this section -->", "<!-- end of the ftps part's section -->")


def ftps_section(fig, handshakes, meta, out):
    """The FTPS figures; a run without the ftps part keeps the previous run's section."""
    if not any(w.startswith("ftps_") for w, _c in fig):
        return kept_section(out, *FTPS_MARKS)
    md = [FTPS_MARKS[0], "## FTPS", "",
          "The big file and the tree again over explicit FTPS (`AUTH TLS`, `PBSZ 0`, `PROT P`), "
          "against vsftpd on 127.0.0.1 with `ssl_enable`, `force_local_logins_ssl`, "
          "`force_local_data_ssl` and `require_ssl_reuse` (a data connection that does not resume "
          "the control connection's TLS session is refused). The certificate is made at run time "
          "with `openssl req` and trusted by every client through its CA-file option. %s; kernel "
          "TLS offered by the kernel: %s. Median of %s runs, min–max in brackets."
          % (meta.get("openssl", "OpenSSL ?"), meta.get("ktls", "?"), meta.get("runs", "?")), "",
          "| Workload | Oxlip | curl | lftp (one connection) | Oxlip ÷ curl | Oxlip ÷ lftp |",
          "| --- | ---: | ---: | ---: | ---: | ---: |"]
    for w, title, unit, kind in FTPS_WORKLOADS:
        rs = [ratio(fig, w, kind, p) for p in ("curl", "lftp")]
        md.append("| %s | %s | %s | %s | %s | %s |" % (
            title, *(cell(fig.get((w, c)), unit) for c in FTPS_CLIENTS),
            *("%.2f×" % r if r is not None else "–" for r in rs)))
    if ("ftps_tree_down", "curl") not in fig:
        md += ["", "curl's tree runs are left out of full runs (`BENCH_FTPS_CURL_TREE=1` adds them): "
               "over TLS against this server it takes about a third of a second a file (3.0 files/s "
               "for 100 files in a quick run), so one 2,000-file run would take over ten minutes."]
    md += ["", "| Figure | Target | Measured | Met |", "| --- | --- | ---: | :---: |"]
    for w, title, _u, kind in FTPS_WORKLOADS:
        if w.startswith("ftps_big"):
            rs = [(ratio(fig, w, kind, p), p) for p in ("curl", "lftp")]
            rs = [x for x in rs if x[0] is not None]
            r, p = min(rs) if rs else (None, None)
            target, limit = "≥ 1.2× the faster of curl and lftp", 1.2
        else:
            r, p = ratio(fig, w, kind, "lftp"), "lftp"
            target, limit = "≥ 1.5× lftp mirror --parallel=1", 1.5
        meas = "%.2f× (vs %s)" % (r, p) if r is not None else "–"
        md.append("| %s | %s | %s | %s |" % (title, target, meas, "yes" if r is not None and r >= limit else "no"))
    if handshakes:
        md += ["", "TLS handshakes of the tree runs, counted in a separate pass from vsftpd's "
               "`debug_ssl` log (control connection and every data connection, listings included):",
               "", "| Workload | Client | Full handshakes | Resumed | Protocol, cipher |",
               "| --- | --- | ---: | ---: | --- |"]
        for w, c, full, resumed, status, proto in handshakes:
            title = dict((k, t) for k, t, _u, _k in FTPS_WORKLOADS).get(w, w)
            md.append("| %s | %s | %s | %s | %s |" % (
                title, CLIENT_NAMES.get(c, c), full if status == "ok" else "failed", resumed, proto))
    notes = [n for n in noise_notes({k: e for k, e in fig.items() if k[0].startswith("ftps_")})]
    if notes:
        md += [""] + notes
    return md + [FTPS_MARKS[1], ""]


def kept_section(path, begin, end):
    """A section a previous run wrote into RESULTS.md between two marks, kept as it stands."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    a, b = text.find(begin), text.find(end)
    return text[a:b + len(end)].split("\n") + [""] if 0 <= a < b else []


def kept_gui_section(path):
    """The section bench/gui.sh wrote into the previous RESULTS.md, kept as it stands."""
    return kept_section(path, "<!-- bench/gui.sh writes this section -->",
                        "<!-- end of bench/gui.sh's section -->")


def counts_table(counts, meta):
    files = int(meta["tree_files"])
    lines = ["| Workload | Client | Commands | Per file | Most frequent |",
             "| --- | --- | ---: | ---: | --- |"]
    for w, c, total, status, verbs in counts:
        title = {"tree_down": "Tree download", "tree_up": "Tree upload"}.get(w, w)
        top = ", ".join(v.replace("=", " ") for v in verbs.split(",")[:5] if v)
        per = "%.2f" % (int(total) / files) if status == "ok" else "failed"
        lines.append("| %s | %s | %s | %s | %s |" % (title, CLIENT_NAMES.get(c, c), total, per, top))
    return lines


def write_chart(fig, data_path, script_path, png_path):
    groups = [(w, t, kind) for w, t, _u, kind in WORKLOADS]
    values = []
    with open(data_path, "w", encoding="utf-8") as f:
        f.write("# workload " + " ".join(PEERS) + "\n")
        for w, title, kind in groups:
            vals = []
            for p in PEERS:
                r = ratio(fig, w, kind, p)
                if r is not None:
                    values.append(r)
                vals.append("%.3f" % r if r is not None else "?")
            f.write('"%s" %s\n' % (title, " ".join(vals)))
    with open(script_path, "w", encoding="utf-8") as g:
        g.write('set terminal pngcairo size 960,540 font "sans,11"\n')
        g.write('set output "%s"\n' % png_path)
        if not values:
            g.write('unset border; unset tics; unset key\n')
            g.write('set label "No Oxlip figures in this run" at graph 0.5,0.5 center\n')
            g.write('plot [0:1][0:1] NaN notitle\n')
            return
        g.write('set title "Oxlip speed ÷ peer speed (above 1: Oxlip is faster)"\n')
        g.write('set datafile missing "?"\n')
        g.write('set style data histogram\n')
        g.write('set style histogram clustered gap 1\n')
        g.write('set style fill solid 0.85 border -1\n')
        g.write('set boxwidth 0.9\n')
        # Ratios on a log scale: 2× faster and 2× slower stand equally far from 1.
        g.write('set logscale y 2\n')
        lo = min(-2, math.floor(math.log2(min(values))) - 1)
        hi = max(3, math.ceil(math.log2(max(values))) + 2)
        g.write('set yrange [%g:%g]\n' % (2.0 ** lo, 2.0 ** hi))
        tics = ['"%s" %g' % (("1/%d" % 2 ** -e) if e < 0 else str(2 ** e), 2.0 ** e)
                for e in range(lo, hi + 1)]
        g.write('set ytics (%s)\n' % ", ".join(tics))
        g.write('set grid ytics\n')
        g.write('set key top right\n')
        g.write('set ylabel "ratio"\n')
        g.write('set arrow from graph 0, first 1 to graph 1, first 1 nohead dt 2 lw 2 lc rgb "#333333"\n')
        # The target of each group as a short red bar across it.
        for i, (w, _title, _kind) in enumerate(groups):
            g.write('set arrow from %.2f, first %.1f to %.2f, first %.1f nohead lw 3 lc rgb "#d62728" front\n'
                    % (i - 0.45, TARGETS[w], i + 0.45, TARGETS[w]))
        g.write('set label "red: target" at graph 0.01, graph 0.96 tc rgb "#d62728"\n')
        cols = []
        for i, p in enumerate(PEERS):
            src = "'%s'" % data_path if i == 0 else "''"
            xt = ":xtic(1)" if i == 0 else ""
            cols.append("%s using %d%s title '%s'" % (src, i + 2, xt, CHART_PEERS[p]))
        width = 1.0 / (len(PEERS) + 1)  # clustered boxes with a gap of one box
        for i, _p in enumerate(PEERS):
            cols.append("'' using ($0 + %.4f):%d:(sprintf('%%.2f', column(%d))) with labels "
                        "offset 0,0.6 font ',9' notitle" % ((i - (len(PEERS) - 1) / 2) * width, i + 2, i + 2))
        g.write("plot " + ", ".join(cols) + "\n")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--handshakes", default=None)
    for a in ["raw", "counts", "mem", "meta", "commands", "out", "chart-data", "chart-script", "chart"]:
        ap.add_argument("--" + a, required=True)
    args = ap.parse_args()

    meta = dict((r[0], r[1] if len(r) > 1 else "") for r in read_tsv(args.meta))
    raw = read_tsv(args.raw)
    counts = read_tsv(args.counts)
    handshakes = read_tsv(args.handshakes) if args.handshakes else []
    mem = dict((r[0], int(r[1])) for r in read_tsv(args.mem) if len(r) > 1 and r[1].isdigit())
    fig = figures(raw, meta)
    with open(args.commands, encoding="utf-8") as f:
        commands = f.read().rstrip("\n").split("\n")

    big, files, dirs, kb, entries = (meta["big_mb"], meta["tree_files"], meta["tree_dirs"],
                                     meta["tree_kb"], meta["list_entries"])
    md = ["# Benchmark results", ""]
    md.append("Produced by `bench/compare.sh`%s on %s. Every client talks to the same vsftpd on "
              "127.0.0.1 in the same run; each figure is the median of %s runs (min–max beside it), "
              "timed from process start to exit, login included. MB is 10^6 bytes."
              % (" (BENCH_QUICK=1: small sizes)" if meta.get("quick") == "1" else "",
                 meta.get("date", "?"), meta.get("runs", "?")))
    md += ["", "## Machine", ""]
    md.append("- CPU: %s, %s cores; memory %s" % (meta.get("cpu", "?"), meta.get("cores", "?"), meta.get("memory", "?")))
    md.append("- OS: %s, kernel %s" % (meta.get("os", "?"), meta.get("kernel", "?")))
    md.append("- Versions: vsftpd %s, %s, lftp %s, Oxlip at commit %s" % (
        meta.get("vsftpd", "?"), meta.get("curl", "?"), meta.get("lftp", "?"), meta.get("oxlip", "?")))
    if meta.get("oxlip_note"):
        md.append("- Note: %s" % meta["oxlip_note"])
    md += ["", "## Workloads", ""]
    md.append("- Big file: one %s MiB file of random bytes, downloaded and uploaded." % big)
    md.append("- Tree: %s files of %s KiB in %s folders, downloaded and uploaded." % (files, kb, dirs))
    md.append("- Listing: one folder of %s entries, listed in full (output to a file)." % entries)
    if meta.get("quick") == "1":
        md.append("- Quick mode: curl's tree runs are left out (its occasional one-second stalls "
                  "would take most of the minute).")
    md += ["", "## Results", ""]
    md += summary_table(fig)
    md += ["", "Medians; in brackets Oxlip's speed over that client's (above 1: Oxlip is faster).",
           "", "### Every figure", ""]
    md += results_table(fig)
    notes = noise_notes(fig)
    if notes:
        md += [""] + notes
    md += ["", "Ratios are Oxlip's speed over the other client's (files/s or MB/s; for the listing, "
           "the other client's time over Oxlip's), so above 1 means Oxlip is faster.", ""]
    md += ["### Targets", ""]
    md += targets_table(fig, mem)
    md += ["", "### Control-connection commands", "",
           "Counted from vsftpd's protocol log in a separate pass (logging is off while timing), "
           "login and listing commands included.", ""]
    md += counts_table(counts, meta)
    md += ["", "### Peak memory of the listing", "", "| Client | Peak resident set |", "| --- | ---: |"]
    for c in ["oxlip"] + PEERS:
        if c in mem:
            md.append("| %s | %.1f MB |" % (CLIENT_NAMES[c], mem[c] / 1024))
    md += ["", "![Ratios](ratios.png)", ""]
    md += latency_section(fig, meta)
    md += replace_section(fig)
    md += ftps_section(fig, handshakes, meta, args.out)
    md += kept_gui_section(args.out)
    md += ["## Commands", ""]
    md += commands
    md += ["", "Reproduce with `bash bench/compare.sh` (add `BENCH_QUICK=1` for a run of about a minute; `BENCH_PARTS` picks parts)."]
    with open(args.out, "w", encoding="utf-8") as f:
        f.write("\n".join(md) + "\n")

    write_chart(fig, args.chart_data, args.chart_script, args.chart)


if __name__ == "__main__":
    main()
