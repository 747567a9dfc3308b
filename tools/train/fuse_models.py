#!/usr/bin/python3
"""Joins mask networks trained apart into one network per stem whose output
is the sigmoid of the members' mean logit: an ensemble that the engine runs
as a single model file.

    fuse_models.py OUT DIR [DIR ...]

Each DIR holds dnn-model-source0.model .. dnn-model-source3.model as
train.py writes them: a per-input scale, a compression (softsign, optionally
a scale and a lookup table read by the embedding layer, then a flatten),
dense layers with ReLU, a dense layer with sigmoid. The members must share
everything before the lookup (train.py samples the same level for every
seed) and have the same layer widths. Members whose lookup tables are equal (a fixed
compression) keep that table, and their first dense layers are stacked.
Otherwise the fused network has one lookup column per member, read at whole
row numbers (a one-column table of row numbers before it); the flatten
interleaves the columns (input i of member j at i * members + j), and the
first dense layer reads member j's inputs only: twice the size and work of
the stacked layer for two members.
Later dense layers are block-diagonal; the last one averages the logits.
Writes OUT/dnn-model-source<k>.model for the four stems; with --predict the
engine runs them and must agree with PyTorch within 1e-5.
"""

import argparse
import os
import struct
import sys

import numpy as np
import torch
from torch import nn

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "nn"))
import export_model as ex  # noqa: E402
import train  # noqa: E402

STEMS = 4
_ACTIVATIONS = {ex.ACT_RELU: nn.ReLU, ex.ACT_SOFTSIGN: nn.Softsign, ex.ACT_SIGMOID: nn.Sigmoid,
                ex.ACT_TANH: nn.Tanh}


class FuseError(Exception):
    """A model file that cannot be read here, or members that do not fit."""


def read_model(path):
    """The model file as a list of layers: ("scale", factor, offset),
    ("act", id), ("lookup", table), ("flatten",), ("dense", w, b, act id),
    with float32 arrays. Only the layer kinds train.py writes are read."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        raise FuseError(f"{path}: {e.strerror}") from None
    pos = 0

    def u32():
        nonlocal pos
        if pos + 4 > len(data):
            raise FuseError(f"{path}: ends inside a layer")
        (v,) = struct.unpack_from("<I", data, pos)
        pos += 4
        return v

    def tensor(rank):
        nonlocal pos
        dims = [u32() for _ in range(rank)]
        count = int(np.prod(dims))
        if pos + 4 * count > len(data):
            raise FuseError(f"{path}: ends inside a tensor of dims {dims}")
        t = np.frombuffer(data, dtype="<f4", count=count, offset=pos).reshape(dims)
        pos += 4 * count
        return t.astype(np.float32)

    layers = []
    for _ in range(u32()):
        kind = u32()
        if kind == ex.LAYER_BATCHNORM:
            layers.append(("scale", tensor(1), tensor(1)))
        elif kind == ex.LAYER_ACTIVATION:
            layers.append(("act", u32()))
        elif kind == ex.LAYER_EMBEDDING:
            layers.append(("lookup", tensor(2)))
        elif kind == ex.LAYER_FLATTEN:
            layers.append(("flatten",))
        elif kind == ex.LAYER_DENSE:
            w, b = tensor(2), tensor(1)
            layers.append(("dense", w, b, u32()))
        else:
            raise FuseError(f"{path}: layer kind {kind} is not one train.py writes")
    return layers


def _same(a, b):
    if a[0] != b[0] or len(a) != len(b):
        return False
    return all(np.array_equal(x, y) if isinstance(x, np.ndarray) else x == y
               for x, y in zip(a[1:], b[1:]))


def _split(path, layers):
    """(front layers before the dense ones, lookup table or None, dense layers)."""
    first = next((i for i, l in enumerate(layers) if l[0] == "dense"), None)
    if first is None or any(l[0] != "dense" for l in layers[first:]):
        raise FuseError(f"{path}: expected the dense layers last")
    dense = layers[first:]
    if any(d[3] != ex.ACT_RELU for d in dense[:-1]) or dense[-1][3] != ex.ACT_SIGMOID:
        raise FuseError(f"{path}: expected ReLU hidden layers and a sigmoid output")
    front = layers[:first]
    lookups = [i for i, l in enumerate(front) if l[0] == "lookup"]
    if not lookups:
        return front, None, dense
    i = lookups[0]
    if len(lookups) > 1 or front[i][1].shape[1] != 1 or front[i + 1:] != [("flatten",)]:
        raise FuseError(f"{path}: expected one one-column lookup followed by a flatten")
    return front[:i], front[i][1], dense


def _scale_module(factor, offset):
    """train.py's fixed scale, multiplying by exactly the file's factors (the
    lookup's rows depend on those bits)."""
    if np.any(offset != 0):
        raise FuseError("a scale layer with an offset, which train.py never writes")
    scale = train.FixedScale(factor.astype(np.float64))
    if not np.array_equal(scale.factor.numpy(), factor):
        raise FuseError("a scale factor does not survive the round trip through a variance")
    return scale


def _linear(w, b):
    m = nn.Linear(w.shape[1], w.shape[0])
    with torch.no_grad():
        m.weight.copy_(torch.as_tensor(w))
        m.bias.copy_(torch.as_tensor(b))
    return m


def fuse(paths):
    """The fused network of the member files, as a torch Sequential in
    evaluation mode; raises FuseError."""
    members = [_split(p, read_model(p)) for p in paths]
    front, table, dense = members[0]
    count = len(members)
    for p, (f, t, d) in zip(paths[1:], members[1:]):
        if len(f) != len(front) or not all(_same(a, b) for a, b in zip(f, front)):
            raise FuseError(f"{p}: its layers before the dense ones differ from {paths[0]}'s")
        if (t is None) != (table is None) or (t is not None and t.shape != table.shape):
            raise FuseError(f"{p}: its lookup differs in shape from {paths[0]}'s")
        if [x[1].shape for x in d] != [x[1].shape for x in dense]:
            raise FuseError(f"{p}: its dense layers differ in size from {paths[0]}'s")

    layers = []
    for layer in front:
        if layer[0] == "scale":
            layers.append(_scale_module(layer[1], layer[2]))
        elif layer[0] == "act" and layer[1] in _ACTIVATIONS:
            layers.append(_ACTIVATIONS[layer[1]]())
        else:
            raise FuseError(f"{paths[0]}: a {layer[0]} layer before the dense ones")
    # Members with one and the same table (a fixed compression) read the same
    # inputs; otherwise each reads its own column.
    own = table is not None and any(not np.array_equal(m[1], table) for m in members)
    if table is not None and not own:
        lookup = train.TruncatingLookup(table.shape[0], 1)
        with torch.no_grad():
            lookup.weight.copy_(torch.as_tensor(table))
        layers += [lookup, nn.Flatten(1)]
    elif own:
        rows = table.shape[0]
        if count > 1:
            # The engine reads a table of c columns from element trunc(c x),
            # which for a fractional x starts inside a row: a one-column
            # table of row numbers first makes x whole.
            whole = train.TruncatingLookup(rows, 1)
            with torch.no_grad():
                whole.weight.copy_(torch.arange(rows, dtype=torch.float32)[:, None])
            layers += [whole, nn.Flatten(1)]
        lookup = train.TruncatingLookup(rows, count)
        with torch.no_grad():
            lookup.weight.copy_(torch.as_tensor(np.concatenate([m[1] for m in members], 1)))
        layers += [lookup, nn.Flatten(1)]

    for depth, (_, w0, _, act) in enumerate(dense):
        units, inputs = w0.shape
        last = depth == len(dense) - 1
        shared = depth == 0 and not own  # every member reads the same inputs
        w = np.zeros((units if last else units * count, inputs if shared else inputs * count),
                     dtype=np.float32)
        b = np.zeros(w.shape[0], dtype=np.float64)
        for j, (_, _, d) in enumerate(members):
            mw, mb = d[depth][1], d[depth][2]
            if shared:
                cols = slice(0, inputs)
            elif depth == 0:
                cols = slice(j, None, count)
            else:
                cols = slice(j * inputs, (j + 1) * inputs)
            if last:
                w[:, cols] += mw / np.float32(count)
                b += mb.astype(np.float64) / count
            else:
                w[j * units:(j + 1) * units, cols] = mw
                b[j * units:(j + 1) * units] = mb
        layers += [_linear(w, b.astype(np.float32)), _ACTIVATIONS[act]()]
    model = nn.Sequential(*layers)
    model.eval()
    return model


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out", help="folder for the fused model files")
    ap.add_argument("members", nargs="+", help="folders with the members' model files")
    ap.add_argument("--predict", help="nn-predict: check the written files against PyTorch")
    ap.add_argument("--records", help="training-data folder whose first mix records the "
                                      "check runs (default: random magnitudes)")
    args = ap.parse_args(argv)
    try:
        os.makedirs(args.out, exist_ok=True)
        fused = []
        for k in range(STEMS):
            name = f"dnn-model-source{k}.model"
            model = fuse([os.path.join(d, name) for d in args.members])
            ex.export(model, os.path.join(args.out, name))
            fused.append((k, model))
        if args.predict:
            if args.records:
                mix = train.open_records(args.records)[0]
            else:
                rng = np.random.default_rng(1)
                mix = (10 ** rng.uniform(-8, 2, size=(100, train.INPUTS))).astype(np.float32)
            paths = [os.path.join(args.out, f"dnn-model-source{k}.model") for k in range(STEMS)]
            worst = train.check_with_engine(args.predict, fused, paths, mix)
            print(f"fuse_models: engine and PyTorch agree within {worst:.3g}")
    except (FuseError, ex.ExportError, OSError, train.DatError, RuntimeError) as e:
        print(f"fuse_models: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
