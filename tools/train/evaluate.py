#!/usr/bin/python3
"""Scores the four mask networks on held-out songs and writes the report.

Every song of the test split is rendered through the C++ chain
(stemvolta-render) once per stem: that stem at 0 dB, the other three at
-120 dB, soft masks, sensitivities 100 %, latency removed. The same renders
are made with the ideal masks of the true stems (the oracle), and the mixture
divided by four stands as the baseline.

Score: SDR = 10 log10(sum s^2 / sum (s_hat - s)^2) over each whole 1-second
window (both channels together); a window whose reference or estimate is all
zero is skipped. The median over a song's windows gives its score, the median
over the songs the stem's.

    evaluate.py [--models plugin/resources] [--songs 40] [--skip 0] [--jobs 8]
                [--out docs/separation-quality.md]

--skip leaves out the split's first songs: make models chooses among its
checkpoints on validation songs numbered after the reported ones, so the
choice never sees the songs of the report.

Dataset layout (tools/train/make_dataset.py): <split>/Tracks.txt,
<split>/Mixtures/<track>/mixture.wav, <split>/Sources/<track>/<stem>.wav.
"""

import argparse
import ast
import datetime
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import soundfile as sf

STEMS = ["vocals", "bass", "drums", "other"]
METHODS = ["networks", "oracle", "baseline"]
# Levels of the soloed stem and of the three others, in dB.
SOLO_DB, MUTE_DB = 0.0, -120.0
# A window the estimate matches exactly would score +inf: the error energy is
# floored so that no score exceeds this.
MAX_SDR_DB = 120.0
# Targets the shipped networks must meet.
MARGIN_OVER_BASELINE_DB = 2.5
SHARE_OF_ORACLE = 0.5

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))


# ---------------------------------------------------------------- scoring

def window_sdrs(reference, estimate, window):
    """SDR in dB of every whole window of `window` frames. reference and
    estimate: arrays of shape (frames,) or (frames, channels); the estimate is
    cut or zero-padded to the reference's length. Windows where either is all
    zero are left out."""
    ref = np.asarray(reference, dtype=np.float64)
    est = np.asarray(estimate, dtype=np.float64)
    if ref.ndim == 1:
        ref = ref[:, None]
    if est.ndim == 1:
        est = est[:, None]
    if est.shape[1] != ref.shape[1]:
        raise ValueError("reference has %d channels, estimate %d" % (ref.shape[1], est.shape[1]))
    if window <= 0:
        raise ValueError("window must be positive")
    n = ref.shape[0]
    if est.shape[0] < n:
        est = np.concatenate([est, np.zeros((n - est.shape[0], est.shape[1]))])
    est = est[:n]
    scores = []
    for start in range(0, n - window + 1, window):
        s = ref[start:start + window]
        e = est[start:start + window]
        if not s.any() or not e.any():
            continue
        signal = float(np.sum(s * s))
        error = max(float(np.sum((e - s) ** 2)), signal * 10.0 ** (-MAX_SDR_DB / 10.0))
        scores.append(10.0 * np.log10(signal / error))
    return scores


def song_score(reference, estimate, window):
    """Median of the window SDRs; None when no window counts."""
    scores = window_sdrs(reference, estimate, window)
    return float(np.median(scores)) if scores else None


def median_over_songs(values):
    """Median of the song scores that exist; None when there are none."""
    present = [v for v in values if v is not None]
    return float(np.median(present)) if present else None


def summarise(per_song):
    """per_song: {method: {stem: [song score or None, ...]}} ->
    {method: {stem: median, ..., "average": mean of the stem medians}}."""
    table = {}
    for method, stems in per_song.items():
        row = {stem: median_over_songs(stems[stem]) for stem in STEMS}
        present = [row[s] for s in STEMS if row[s] is not None]
        row["average"] = float(np.mean(present)) if len(present) == len(STEMS) else None
        table[method] = row
    return table


def check_targets(table):
    """The shipped networks' targets: every stem at least 2.5 dB above the
    baseline, and an average of at least half the oracle's. A list of
    (description, passed) pairs; a target that cannot be judged fails."""
    nets, base, oracle = table.get("networks"), table.get("baseline"), table.get("oracle")
    checks = []
    for stem in STEMS:
        ok = bool(nets and base and nets[stem] is not None and base[stem] is not None
                  and nets[stem] >= base[stem] + MARGIN_OVER_BASELINE_DB)
        checks.append(("%s at least %.1f dB above the baseline" % (stem, MARGIN_OVER_BASELINE_DB),
                       ok))
    if oracle is not None:
        ok = bool(nets and nets["average"] is not None and oracle["average"] is not None
                  and nets["average"] >= SHARE_OF_ORACLE * oracle["average"])
        checks.append(("average at least half the oracle's", ok))
    return checks


# ---------------------------------------------------------------- rendering

def read_tracks(split_dir):
    with open(os.path.join(split_dir, "Tracks.txt")) as f:
        return [line.strip() for line in f if line.strip()]


def solo_levels(stem_index):
    return ",".join("%g" % (SOLO_DB if k == stem_index else MUTE_DB) for k in range(len(STEMS)))


def render(render_bin, mixture, out_wav, stem_index, models=None, oracle_dir=None):
    """Renders one stem solo; returns the render's (frames, channels) array."""
    cmd = [render_bin, "--levels", solo_levels(stem_index), "--soft-hard", "0",
           "--sensitivities", "100,100,100,100"]
    if oracle_dir is not None:
        cmd += ["--oracle", oracle_dir]
    if models is not None:
        cmd += ["--models", models]
    cmd += [mixture, out_wav]
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(cmd), result.returncode,
                                                 result.stderr.strip()))
    audio, _ = sf.read(out_wav, dtype="float64", always_2d=True)
    os.remove(out_wav)
    return audio


def score_song(job):
    """All scores of one song: {method: {stem: score or None}}."""
    split_dir, track, render_bin, models, with_oracle, tmp = job
    mixture_path = os.path.join(split_dir, "Mixtures", track, "mixture.wav")
    sources_dir = os.path.join(split_dir, "Sources", track)
    mixture, rate = sf.read(mixture_path, dtype="float64", always_2d=True)
    window = int(round(rate))
    scores = {m: {} for m in METHODS if with_oracle or m != "oracle"}
    for k, stem in enumerate(STEMS):
        reference, source_rate = sf.read(os.path.join(sources_dir, stem + ".wav"),
                                         dtype="float64", always_2d=True)
        if source_rate != rate:
            raise RuntimeError("%s: %s is at %d Hz, the mixture at %d Hz"
                               % (track, stem, source_rate, rate))
        out = os.path.join(tmp, "%s-%s.wav" % (track, stem))
        estimate = render(render_bin, mixture_path, out, k, models=models)
        scores["networks"][stem] = song_score(reference, estimate, window)
        if with_oracle:
            estimate = render(render_bin, mixture_path, out, k, oracle_dir=sources_dir)
            scores["oracle"][stem] = song_score(reference, estimate, window)
        scores["baseline"][stem] = song_score(reference, mixture / len(STEMS), window)
    return track, scores


def evaluate(split_dir, tracks, render_bin, models, jobs, with_oracle):
    """{method: {stem: [score per track]}}, tracks in the given order."""
    tmp = tempfile.mkdtemp(prefix="stemvolta-eval-")
    try:
        work = [(split_dir, t, render_bin, models, with_oracle, tmp) for t in tracks]
        with ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
            results = dict(pool.map(score_song, work))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    methods = [m for m in METHODS if with_oracle or m != "oracle"]
    return {m: {s: [results[t][m][s] for t in tracks] for s in STEMS} for m in methods}


# ---------------------------------------------------------------- report

def fmt(value):
    return "-" if value is None else "%.2f" % value


def relative(path):
    path = os.path.abspath(path)
    return os.path.relpath(path, ROOT) if path.startswith(ROOT + os.sep) else path


def model_lines(models):
    lines = []
    for k, stem in enumerate(STEMS):
        path = os.path.join(models, "dnn-model-source%d.model" % k)
        if not os.path.exists(path):
            lines.append("- `%s` (%s): missing" % (relative(path), stem))
            continue
        with open(path, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()[:16]
        lines.append("- `%s` (%s): %d bytes, SHA-256 %s..." % (relative(path), stem,
                                                               os.path.getsize(path), digest))
    return lines


def script_doc(path):
    """The docstring of a python script, as lines; empty when it has none."""
    try:
        with open(path) as f:
            doc = ast.get_docstring(ast.parse(f.read()))
    except (OSError, SyntaxError):
        return []
    return doc.splitlines() if doc else []


def training_lines(models):
    """The training settings that train.py recorded beside the models."""
    path = os.path.join(models, "train-summary.json")
    if not os.path.exists(path):
        return ["No training summary (`train-summary.json`) beside the models."]
    with open(path) as f:
        try:
            summary = json.load(f)
        except ValueError:
            return ["`%s` could not be read." % relative(path)]
    lines = ["Training settings recorded by `tools/train/train.py` (`%s`):" % relative(path), ""]
    for key in sorted(summary):
        value = summary[key]
        if isinstance(value, (dict, list)):
            value = json.dumps(value, sort_keys=True)
            if len(value) > 300:
                value = value[:300] + "..."
        lines.append("- %s: `%s`" % (key, value))
    return lines


def write_report(path, table, per_song, tracks, args, seconds):
    dataset_readme = os.path.join(os.path.dirname(os.path.abspath(args.dataset)), "README.txt")
    recipe = []
    if os.path.exists(dataset_readme):
        with open(dataset_readme) as f:
            recipe = [line.rstrip() for line in f if line.strip()]
    methods = list(table)
    names = {"networks": "networks", "oracle": "oracle (ideal binary masks)",
             "baseline": "baseline (mixture / 4)"}
    out = []
    out.append("# Separation quality")
    out.append("")
    out.append("Median SDR in dB on %d held-out synthetic songs of `%s` (%s). Each stem is "
               "rendered through the whole C++ chain (`stemvolta-render`) with that stem at "
               "0 dB and the other three at -120 dB, soft masks, sensitivities 100 %%, the "
               "latency removed. SDR = 10 log10(sum s^2 / sum (s_hat - s)^2) over each whole "
               "1-second window of both channels; windows where the reference or the estimate "
               "is all zero are skipped; median over the windows of a song, then over the songs. "
               "The oracle applies the ideal 0/1 masks of the true stems (at the networks' mel "
               "resolution, expanded as the networks' outputs are) through the same chain."
               % (len(tracks), relative(args.dataset), datetime.date.today().isoformat()))
    out.append("")
    out.append("| method | " + " | ".join(STEMS) + " | average |")
    out.append("|---|" + "---:|" * (len(STEMS) + 1))
    for m in methods:
        row = table[m]
        out.append("| %s | %s | %s |" % (names[m], " | ".join(fmt(row[s]) for s in STEMS),
                                         fmt(row["average"])))
    out.append("")
    checks = check_targets(table)
    out.append("Targets for the shipped networks:")
    out.append("")
    for text, ok in checks:
        out.append("- %s: %s" % (text, "met" if ok else "NOT met"))
    out.append("")
    out.append("## Models")
    out.append("")
    shipped = os.path.join(ROOT, "plugin", "resources")
    if os.path.abspath(args.models) != shipped:
        out.append("Evaluated from `%s`, not from the shipped folder `plugin/resources`."
                   % relative(args.models))
        out.append("")
    out.extend(model_lines(args.models))
    out.append("")
    out.append("## Data recipe")
    out.append("")
    out.append("All material is our own, synthesised from Debian packages; the training "
               "split alone also mixes in transformed CC BY recordings. The dataset and the "
               "training are described by their scripts:")
    out.append("")
    for script in ("make_dataset.py", "train.py"):
        doc = script_doc(os.path.join(HERE, script))
        if doc:
            out.append("`tools/train/%s`:" % script)
            out.append("")
            out.extend(("    " + line).rstrip() for line in doc)
            out.append("")
    if recipe:
        out.append("Dataset record (`%s`):" % relative(dataset_readme))
        out.append("")
        out.extend("    " + line for line in recipe)
        out.append("")
    out.append("The training data between the two: `stemvolta-export` runs the plug-in's "
               "training-data export mode over the training split.")
    out.append("")
    out.extend(training_lines(args.models))
    out.append("")
    out.append("## Reproduce")
    out.append("")
    out.append("    make build")
    out.append("    make models   # dataset, export, training and this evaluation from nothing")
    skip = " --skip %d" % args.skip if args.skip else ""
    out.append("    tools/train/evaluate.py --models %s --songs %d%s --jobs %d --out %s"
               % (relative(args.models), len(tracks), skip, args.jobs, relative(args.out)))
    out.append("")
    out.append("This evaluation took %.0f s with %d parallel renders." % (seconds, args.jobs))
    out.append("")
    out.append("## Per song")
    out.append("")
    header = ["track"] + ["%s %s" % (m, s) for m in methods for s in STEMS]
    out.append("| " + " | ".join(header) + " |")
    out.append("|---|" + "---:|" * (len(header) - 1))
    for i, track in enumerate(tracks):
        cells = [fmt(per_song[m][s][i]) for m in methods for s in STEMS]
        out.append("| %s | %s |" % (track, " | ".join(cells)))
    out.append("")
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    with open(path, "w") as f:
        f.write("\n".join(out))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                 formatter_class=argparse.ArgumentDefaultsHelpFormatter)
    ap.add_argument("--models", default=os.path.join("plugin", "resources"),
                    help="folder of dnn-model-source0..3.model")
    ap.add_argument("--songs", type=int, default=40, help="first N songs of the split")
    ap.add_argument("--skip", type=int, default=0,
                    help="songs of the split left out before those N")
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="parallel renders")
    ap.add_argument("--out", default=os.path.join("docs", "separation-quality.md"),
                    help="the report (markdown)")
    ap.add_argument("--dataset", default=os.path.join("data", "dataset", "test"),
                    help="the held-out split folder")
    ap.add_argument("--render", default=os.path.join("build", "release", "tools", "render",
                                                     "stemvolta-render"),
                    help="the stemvolta-render program")
    ap.add_argument("--no-oracle", action="store_true",
                    help="skip the oracle renders (quicker checkpoint comparisons)")
    ap.add_argument("--json", help="also write the scores to this JSON file")
    args = ap.parse_args(argv)

    if args.songs <= 0:
        ap.error("--songs must be positive")
    if args.skip < 0:
        ap.error("--skip must not be negative")
    if not os.access(args.render, os.X_OK):
        ap.error("no render program at %s (build it: make build)" % args.render)
    for k in range(len(STEMS)):
        if not os.path.exists(os.path.join(args.models, "dnn-model-source%d.model" % k)):
            ap.error("%s holds no dnn-model-source%d.model" % (args.models, k))
    try:
        tracks = read_tracks(args.dataset)[args.skip:args.skip + args.songs]
    except OSError as e:
        ap.error("cannot read the track list of %s: %s" % (args.dataset, e))
    after = " after the first %d" % args.skip if args.skip else ""
    if not tracks:
        ap.error("%s lists no tracks%s" % (args.dataset, after))
    if len(tracks) < args.songs:
        print("evaluate: only %d songs in %s%s" % (len(tracks), args.dataset, after),
              file=sys.stderr)

    start = time.time()
    try:
        per_song = evaluate(args.dataset, tracks, os.path.abspath(args.render), args.models,
                            args.jobs, not args.no_oracle)
    except (RuntimeError, OSError) as e:
        print("evaluate: %s" % e, file=sys.stderr)
        return 1
    seconds = time.time() - start
    table = summarise(per_song)
    write_report(args.out, table, per_song, tracks, args, seconds)
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"tracks": tracks, "table": table, "per_song": per_song,
                       "targets": check_targets(table)}, f, indent=1)

    for method, row in table.items():
        print("%-9s %s  average %s" % (method, "  ".join("%s %s" % (s, fmt(row[s]))
                                                         for s in STEMS), fmt(row["average"])))
    print("wrote %s (%d songs, %.0f s)" % (args.out, len(tracks), seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main())
