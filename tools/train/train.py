#!/usr/bin/python3
"""Trains the four mask networks (0 vocals, 1 bass, 2 drums, 3 other) from the
training-data files of the export mode and writes them as engine model files.

Input folder: "mix.dat" and "mask0.dat" .. "mask3.dat", raw float32 in host
byte order without header. A mix record is 4 x 256 floats (the mel-reduced
mix magnitudes of four frames, oldest first: the plug-in's model input); a
mask record is 256 floats, the ideal 0/1 mask of its stem at the newest frame.
Record i of every file belongs to the same frame.

Each network: a per-input scale (a batch normalisation with fixed statistics),
a compression, then dense layers to 256 sigmoid outputs. The plug-in feeds
raw magnitudes, so the compression lives in the network, built from layers
the engine has: a softsign or tanh, or ("log") a logarithm read from a table
by the engine's embedding layer (softsign, a scale to the table's rows, the
lookup, a flatten). The loss is binary cross-entropy against the ideal mask,
each bin weighted by the mix magnitude of the newest frame raised to
--weight-power (1 by default; make models uses the square root); with
--joint it is taken on the four masks divided by their sum, as the plug-in's
soft mode applies them, and the four networks learn together. --average
exports a moving average of the weights.

    train.py DATDIR [--out plugin/resources] [--epochs 1] [--hidden 512] ...

Writes OUT/dnn-model-source<k>.model, checkpoints under OUT/checkpoints/ when
asked, and OUT/train-summary.json.
"""

import argparse
import copy
import json
import os
import subprocess
import sys
import tempfile
import time


def _threads_in(argv, default=4):
    """The --threads value, read before numpy and torch load: OpenBLAS sizes
    its own thread pool when it loads and would otherwise take every core."""
    for i, a in enumerate(argv):
        value = a.split("=", 1)[1] if a.startswith("--threads=") else (
            argv[i + 1] if a == "--threads" and i + 1 < len(argv) else None)
        if value is not None and value.isdigit() and int(value) > 0:
            return int(value)
    return default


for _var in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS"):
    os.environ.setdefault(_var, str(_threads_in(sys.argv[1:])))

import numpy as np  # noqa: E402
import torch  # noqa: E402
from torch import nn  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "nn"))
import export_model  # noqa: E402

BINS = 256
FRAMES = 4
INPUTS = BINS * FRAMES
STEMS = 4
STEM_NAMES = ["vocals", "bass", "drums", "other"]


class DatError(Exception):
    """Training-data files that are missing or do not fit together."""


def open_records(folder):
    """A memory map of mix.dat, shape (n, 1024), and the four masks, (n, 256)
    each: held in memory as uint8 when a file holds only 0 and 1 (the ideal
    masks of the export; a quarter of the float file, so more training data
    fits beside the mix in the page cache), else its float32 memory map.
    Raises DatError when a file is missing, empty, not a whole number of
    records, or when the files disagree on the record count."""
    def load(name, width):
        path = os.path.join(folder, name)
        if not os.path.isfile(path):
            raise DatError(f"{path}: missing")
        size = os.path.getsize(path)
        if size == 0:
            raise DatError(f"{path}: empty")
        if size % (width * 4):
            raise DatError(f"{path}: {size} bytes is not a whole number of {width}-float records")
        return np.memmap(path, dtype=np.float32, mode="r").reshape(-1, width)

    mix = load("mix.dat", INPUTS)
    masks = [load(f"mask{k}.dat", BINS) for k in range(STEMS)]
    for k, m in enumerate(masks):
        if len(m) != len(mix):
            raise DatError(f"mask{k}.dat holds {len(m)} records, mix.dat {len(mix)}")
    return mix, [binary_or_float(m) for m in masks]


def held_as(records, dtype, fits, convert=lambda part: part, chunk=65536):
    """The records converted into an in-memory array of dtype, read in chunks
    of records; None as soon as a chunk does not pass fits(chunk)."""
    out = np.empty(records.shape, dtype=dtype)
    for b in range(0, len(records), chunk):
        part = np.asarray(records[b:b + chunk])
        if not fits(part):
            return None
        out[b:b + chunk] = convert(part)
    return out


def binary_or_float(mask, chunk=65536):
    """The mask as a uint8 array if every value is exactly 0 or 1, read in
    chunks; otherwise the float32 map itself, untouched."""
    held = held_as(mask, np.uint8, lambda part: np.all((part == 0) | (part == 1)), chunk=chunk)
    return mask if held is None else held


# The mix held as float16 is scaled by this power of two (exact both ways):
# its mel magnitudes are small (a third lie below float16's smallest normal
# number as they stand), scaled they keep float16's full relative precision.
HALF_SCALE = 2.0 ** 16


class HalfRecords:
    """Float32 records held as float16 times HALF_SCALE: half the memory of
    the float file, each value within a relative 2^-11 of its own (values
    below 2^-30 lose more). Indexed like the map it replaces; gives float32."""

    def __init__(self, data):
        self.data = data
        self.shape = data.shape

    def __len__(self):
        return len(self.data)

    def __getitem__(self, key):
        return self.data[key].astype(np.float32) * np.float32(1.0 / HALF_SCALE)


def half_or_float(records, chunk=65536):
    """The records as HalfRecords, read in chunks; the float32 map itself,
    untouched, when a value would not fit float16 once scaled (or is not
    finite)."""
    top = np.finfo(np.float16).max / HALF_SCALE
    held = held_as(records, np.float16, lambda part: np.all(np.abs(part) <= top),
                   lambda part: part * np.float32(HALF_SCALE), chunk)
    return records if held is None else HalfRecords(held)


def input_scale(mix, rng, sample=200000):
    """Per-bin level that the compression centres on: the median of the
    non-zero magnitudes of that mel bin (newest frame), over a sample of
    records. Tiled over the four frames: (1024,) float64."""
    idx = np.sort(rng.choice(len(mix), size=min(sample, len(mix)), replace=False))
    newest = np.asarray(mix[idx, INPUTS - BINS:], dtype=np.float64)
    level = np.zeros(BINS)
    for b in range(BINS):
        col = newest[:, b]
        col = col[col > 0]
        level[b] = np.median(col) if len(col) else 0.0
    floor = max(1e-6, 1e-3 * float(np.median(level[level > 0])) if np.any(level > 0) else 1e-6)
    return np.tile(np.maximum(level, floor), FRAMES)


class FixedScale(nn.BatchNorm1d):
    """x * scale per input: a batch normalisation that always stays in
    evaluation mode with fixed statistics (mean 0, variance 1 / scale^2,
    eps 0). forward multiplies by the float32 factor the exporter writes, so
    PyTorch computes the engine's bits (the lookup below depends on them)."""

    def __init__(self, scale):
        scale = np.asarray(scale, dtype=np.float64)
        # eps 0: the variance holds 1 / scale^2 itself. Storing it minus eps
        # cancels in float32 for small variances.
        super().__init__(len(scale), eps=0.0)
        with torch.no_grad():
            self.running_mean.zero_()
            self.running_var.copy_(torch.as_tensor(1.0 / scale ** 2, dtype=torch.float32))
            self.weight.fill_(1.0)
            self.bias.zero_()
        self.weight.requires_grad_(False)
        self.bias.requires_grad_(False)
        # The exporter's factor: gamma / sqrt(var + eps) in double, then float32.
        self.register_buffer("factor", (1.0 / torch.sqrt(self.running_var.double())).float())
        self.train(False)

    def train(self, mode=True):
        return super().train(False)

    def forward(self, x):
        return x * self.factor


def level_scale(level):
    """x / level per input."""
    return FixedScale(1.0 / np.asarray(level, dtype=np.float64))


# Rows of the logarithm lookup table. Softsign output in [0, 1], times
# LOOKUP_ROWS - 1, truncates to a row in range even when softsign rounds to 1.
LOOKUP_ROWS = 65536
LOG_SCALE = 0.25


class LevelLookup(nn.Embedding):
    """A per-level function read from a table: the input (a softsign of the
    scaled magnitude, times LOOKUP_ROWS - 1) truncated to a row index, as the
    engine's embedding layer does. Rows start as the logarithm of the scaled
    magnitude each row stands for, times LOG_SCALE. (n, inputs) -> (n, inputs, 1)."""

    def __init__(self, trainable=False):
        super().__init__(LOOKUP_ROWS, 1)
        top = LOOKUP_ROWS - 1
        s = np.minimum((np.arange(LOOKUP_ROWS) + 0.5) / top, 1.0 - 0.5 / top)
        with torch.no_grad():
            self.weight.copy_(torch.as_tensor(LOG_SCALE * np.log(s / (1.0 - s)),
                                              dtype=torch.float32)[:, None])
        self.weight.requires_grad_(trainable)

    def forward(self, x):
        rows = torch.trunc(x).clamp(0, LOOKUP_ROWS - 1).long()
        return nn.functional.embedding(rows, self.weight)


def log_compression(trainable=False):
    """Layers that turn scaled magnitudes y >= 0 into LOG_SCALE * ln(y) to
    within a row for y in 1e-3 .. 1e3 (coarser beyond, finite from 0 up to
    where softsign rounds to 1), from layers the engine has: softsign, a
    scale, the lookup, a flatten."""
    return [nn.Softsign(), FixedScale(np.full(INPUTS, float(LOOKUP_ROWS - 1))),
            LevelLookup(trainable), nn.Flatten(1)]


COMPRESSIONS = {"softsign": lambda: [nn.Softsign()], "tanh": lambda: [nn.Tanh()],
                "log": log_compression, "log-trained": lambda: log_compression(True),
                "none": lambda: []}


def build_model(level, hidden, compression):
    layers = [level_scale(level)] + COMPRESSIONS[compression]()
    width = INPUTS
    for h in hidden:
        layers += [nn.Linear(width, h), nn.ReLU()]
        width = h
    layers += [nn.Linear(width, BINS), nn.Sigmoid()]
    return nn.Sequential(*layers)


def batches(mix, masks, batch, rng, chunk=4096, window=16):
    """One pass over the records in random order, read in chunks so that the
    memory maps are read mostly front to back: (x, [mask_k]) float32 arrays."""
    n = len(mix)
    starts = rng.permutation(np.arange(0, n, chunk))
    for w in range(0, len(starts), window):
        idx = np.concatenate([np.arange(s, min(s + chunk, n)) for s in np.sort(starts[w:w + window])])
        x = np.asarray(mix[idx])
        ys = [np.asarray(m[idx], dtype=np.float32) for m in masks]
        order = rng.permutation(len(idx))
        for b in range(0, len(order), batch):
            sel = order[b:b + batch]
            yield x[sel], [y[sel] for y in ys]


def weighted_bce(pred, target, weight):
    loss = nn.functional.binary_cross_entropy(pred, target, reduction="none")
    return (loss * weight).sum() / weight.sum().clamp_min(1e-12)


def normalised(preds):
    """Each mask divided by the sum of the four, as the soft mode applies them;
    kept inside (0, 1) so that the cross-entropy stays finite."""
    total = sum(preds).clamp_min(1e-6)
    return [(p / total).clamp(1e-6, 1.0 - 1e-6) for p in preds]


def predictions(models, x, joint):
    """The masks the loss is taken on: each network's, normalised when joint."""
    preds = [m(x) for _, m in models]
    return normalised(preds) if joint else preds


def bin_weights(x, power):
    """Per-bin loss weights from the newest frame's magnitudes."""
    if power == 0:
        return torch.ones(x.shape[0], BINS)
    return x[:, INPUTS - BINS:].clamp_min(0) ** power


def evaluate(models, mix, masks, power, joint=False, limit=50000, batch=4096):
    """Weighted BCE per stem over (at most) the first `limit` records, of the
    normalised masks when joint."""
    n = min(limit, len(mix))
    totals = [0.0] * len(models)
    weight_sum = 0.0
    with torch.no_grad():
        for b in range(0, n, batch):
            x = torch.from_numpy(np.array(mix[b:min(n, b + batch)]))
            w = bin_weights(x, power)
            weight_sum += float(w.sum())
            preds = predictions(models, x, joint)
            for i, ((k, _), p) in enumerate(zip(models, preds)):
                y = torch.from_numpy(np.array(masks[k][b:min(n, b + batch)], dtype=np.float32))
                loss = nn.functional.binary_cross_entropy(p, y, reduction="none")
                totals[i] += float((loss * w).sum())
    return [t / max(weight_sum, 1e-12) for t in totals]


def one_cycle(opt, lr, total_steps):
    """The learning rate rises over the first 5 % of the steps (at least two)
    and falls to the end. OneCycleLR divides by the length of its rising
    phase less one step, which must not be zero (5 % of 20 steps is one):
    runs of fewer than 8 steps keep lr throughout."""
    if total_steps < 8:
        return torch.optim.lr_scheduler.LambdaLR(opt, lambda step: 1.0)
    return torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=lr, total_steps=total_steps,
                                               pct_start=max(0.05, 2.0 / total_steps))


class Average:
    """Exponential moving average of a network's weights (decay per step);
    the averaged copy is what gets exported and evaluated. decay 0 keeps the
    network itself. Early steps use a smaller decay, (1 + n) / (10 + n) after n
    updates, so that the random starting weights do not linger in the average."""

    def __init__(self, model, decay):
        self.decay = decay
        self.updates = 0
        self.model = model
        if decay > 0:
            self.model = copy.deepcopy(model)
            for p in self.model.parameters():
                p.requires_grad_(False)

    def update(self, model):
        if self.decay <= 0:
            return
        decay = min(self.decay, (1.0 + self.updates) / (10.0 + self.updates))
        self.updates += 1
        with torch.no_grad():
            for avg, p in zip(self.model.parameters(), model.parameters()):
                avg.mul_(decay).add_(p, alpha=1.0 - decay)


def export_all(models, folder):
    os.makedirs(folder, exist_ok=True)
    paths = []
    for k, m in models:
        m.eval()
        path = os.path.join(folder, f"dnn-model-source{k}.model")
        export_model.export(m, path)
        paths.append(path)
        m.train()
    return paths


def check_with_engine(predict, models, paths, mix, count=100, tol=1e-5):
    """Runs the exported files with nn-predict on `count` records and returns
    the largest difference from PyTorch over all stems."""
    x = np.array(mix[:count], dtype="<f4")  # a writable copy for torch
    worst = 0.0
    with tempfile.TemporaryDirectory() as tmp:
        inp = os.path.join(tmp, "in.f32")
        out = os.path.join(tmp, "out.f32")
        x.tofile(inp)
        for (k, m), path in zip(models, paths):
            m.eval()
            cmd = [predict, "--dims", str(INPUTS), "--threads", "1", path, inp, out]
            done = subprocess.run(cmd, capture_output=True, text=True)
            if done.returncode != 0:
                raise RuntimeError(f"{' '.join(cmd)} failed ({done.returncode}): {done.stderr}")
            ours = np.fromfile(out, dtype="<f4").reshape(len(x), -1)[:, :BINS]
            with torch.no_grad():
                ref = m(torch.from_numpy(x)).numpy()
            worst = max(worst, float(np.max(np.abs(ours.astype(np.float64) - ref))))
            m.train()
    if worst > tol:
        raise RuntimeError(f"engine and PyTorch differ by {worst:.3g} (allowed {tol:g})")
    return worst


def parse_args(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("data", help="folder with mix.dat and mask0.dat .. mask3.dat")
    ap.add_argument("--out", default=os.path.join("plugin", "resources"))
    ap.add_argument("--val", help="held-out folder of the same files, for a loss report")
    ap.add_argument("--stems", default="0,1,2,3", help="stem numbers to train")
    ap.add_argument("--hidden", default="512", help="hidden layer widths, e.g. 512 or 1024,512")
    ap.add_argument("--compression", choices=sorted(COMPRESSIONS), default="softsign")
    ap.add_argument("--epochs", type=float, default=1.0)
    ap.add_argument("--batch", type=int, default=512)
    ap.add_argument("--lr", type=float, default=1e-3)
    ap.add_argument("--weight-power", type=float, default=1.0,
                    help="loss weight per bin = newest mix magnitude ^ power (0: unweighted)")
    ap.add_argument("--half-mix", action="store_true",
                    help="hold the training mix in memory as (scaled) float16: half the "
                         "memory, each magnitude within a relative 2^-11")
    ap.add_argument("--average", type=float, default=0.0,
                    help="export a moving average of the weights with this decay per step "
                         "(0: the weights themselves)")
    ap.add_argument("--joint", action="store_true",
                    help="train the four networks together, the loss on their masks divided "
                         "by the sum of the four (what the soft mode applies); needs all four")
    ap.add_argument("--checkpoints", type=int, default=0,
                    help="model files saved this many times per epoch under OUT/checkpoints")
    ap.add_argument("--threads", type=int, default=4, help="torch threads")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--predict", help="nn-predict: check the written files against PyTorch")
    args = ap.parse_args(argv)
    try:
        args.stems = sorted({int(s) for s in args.stems.split(",")})
        args.hidden = [int(h) for h in args.hidden.split(",") if h]
    except ValueError:
        ap.error("--stems and --hidden take comma-separated whole numbers")
    if not args.stems or any(s < 0 or s >= STEMS for s in args.stems):
        ap.error("--stems must name stems 0 to 3")
    if args.joint and len(args.stems) != STEMS:
        ap.error("--joint trains all four stems")
    if any(h <= 0 for h in args.hidden) or args.epochs <= 0 or args.batch <= 0 \
            or args.threads <= 0 or args.checkpoints < 0:
        ap.error("sizes, epochs, batch, threads must be positive, checkpoints >= 0")
    if not 0 <= args.average < 1:
        ap.error("--average takes a decay from 0 up to (not including) 1")
    # A negative power weighs the silent bins infinitely: the loss turns NaN.
    if not 0 <= args.weight_power < float("inf"):
        ap.error("--weight-power takes a finite power from 0 up")
    return args


def main(argv=None):
    args = parse_args(argv)
    torch.set_num_threads(args.threads)
    torch.manual_seed(args.seed)
    rng = np.random.default_rng(args.seed)
    try:
        mix, masks = open_records(args.data)
        val = open_records(args.val) if args.val else None
    except DatError as e:
        print(f"train: {e}", file=sys.stderr)
        return 2

    started = time.time()
    level = input_scale(mix, rng)
    if args.half_mix:
        mix = half_or_float(mix)
        if not isinstance(mix, HalfRecords):
            print("train: mix.dat does not fit float16; held as float32", file=sys.stderr)
    models = [(k, build_model(level, args.hidden, args.compression)) for k in args.stems]
    averages = [Average(m, args.average) for _, m in models]
    opts = [torch.optim.Adam(m.parameters(), lr=args.lr) for _, m in models]
    total_steps = max(1, int(round(args.epochs * len(mix) / args.batch)))
    scheds = [one_cycle(o, args.lr, total_steps) for o in opts]
    every = (max(1, int(len(mix) / args.batch / args.checkpoints)) if args.checkpoints else 0)
    history = []
    step = 0
    running = np.zeros(len(models))
    kept = [(k, a.model) for (k, _), a in zip(models, averages)]
    while step < total_steps:
        for xb, ys in batches(mix, masks, args.batch, rng):
            x = torch.from_numpy(xb)
            w = bin_weights(x, args.weight_power)
            preds = predictions(models, x, args.joint)
            losses = [weighted_bce(p, torch.from_numpy(ys[k]), w)
                      for p, (k, _) in zip(preds, models)]
            for opt in opts:
                opt.zero_grad(set_to_none=True)
            sum(losses).backward()
            for i, (opt, sched, avg, (_, m), loss) in enumerate(
                    zip(opts, scheds, averages, models, losses)):
                opt.step()
                sched.step()
                avg.update(m)
                running[i] = 0.98 * running[i] + 0.02 * float(loss) if step else float(loss)
            step += 1
            if every and step % every == 0:
                folder = os.path.join(args.out, "checkpoints", f"step-{step:07d}")
                export_all(kept, folder)
                entry = {"step": step, "epoch": step * args.batch / len(mix),
                         "train_loss": running.tolist(), "folder": folder}
                if val is not None:
                    entry["val_loss"] = evaluate(kept, *val, args.weight_power, args.joint)
                history.append(entry)
                print(json.dumps(entry), flush=True)
            if step >= total_steps:
                break

    paths = export_all(kept, args.out)
    summary = {
        "records": len(mix), "stems": args.stems, "hidden": args.hidden,
        "compression": args.compression, "epochs": args.epochs, "batch": args.batch,
        "lr": args.lr, "weight_power": args.weight_power, "joint": args.joint,
        "average": args.average, "seed": args.seed,
        "half_mix": isinstance(mix, HalfRecords),
        "threads": args.threads, "steps": step, "seconds": time.time() - started,
        "train_loss": running.tolist(), "checkpoints": history, "models": paths,
    }
    if val is not None:
        summary["val_loss"] = evaluate(kept, *val, args.weight_power, args.joint)
    if args.predict:
        try:
            summary["engine_max_difference"] = check_with_engine(args.predict, kept, paths, mix)
        except RuntimeError as e:
            print(f"train: {e}", file=sys.stderr)
            return 1
    with open(os.path.join(args.out, "train-summary.json"), "w") as f:
        json.dump(summary, f, indent=1)
    print("train: %d steps over %d records in %.1f s; loss %s" % (
        step, len(mix), summary["seconds"], ", ".join(
            f"{STEM_NAMES[k]} {l:.4f}" for k, l in zip(args.stems, running))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
