#!/usr/bin/python3
"""Exports PyTorch models with export_model.py, runs them with nn-predict and
compares the engine's outputs with PyTorch's.

    test_parity.py --predict build/tools/nn/nn-predict [--case NAME ...]

Every case uses fixed seeds and one torch thread; exit status 0 when all
selected cases pass.
"""

import argparse
import os
import subprocess
import sys
import tempfile

os.environ.setdefault("OMP_NUM_THREADS", "1")

import numpy as np  # noqa: E402
import torch  # noqa: E402
from torch import nn  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import export_model  # noqa: E402

torch.set_num_threads(1)


class Runner:
    def __init__(self, predict, workdir):
        self.predict = predict
        self.workdir = workdir
        self.serial = 0

    def path(self, stem):
        self.serial += 1
        return os.path.join(self.workdir, f"{self.serial}-{stem}")

    def run(self, model_path, inputs, dims, threads=1):
        """Predicts every row of inputs (each of dims); returns the stacked outputs."""
        in_path = self.path("in.f32")
        out_path = self.path("out.f32")
        np.ascontiguousarray(inputs, dtype="<f4").tofile(in_path)
        cmd = [self.predict, "--dims", ",".join(str(d) for d in dims)]
        cmd += ["--threads", str(threads), model_path, in_path, out_path]
        done = subprocess.run(cmd, capture_output=True, text=True)
        if done.returncode != 0:
            raise AssertionError(f"{' '.join(cmd)} failed ({done.returncode}):\n{done.stderr}")
        return np.fromfile(out_path, dtype="<f4").reshape(len(inputs), -1)

    def export(self, model, stem):
        path = self.path(stem + ".model")
        export_model.export(model, path)
        return path


def compare(label, ours, ref, tol, relative=False):
    ref = np.asarray(ref, dtype=np.float64).reshape(ours.shape)
    err = np.abs(ours.astype(np.float64) - ref)
    if relative:
        err = err / np.maximum(1.0, np.abs(ref))
    worst = float(err.max()) if err.size else 0.0
    print(f"  {label}: {ours.size} values, max error {worst:.3g} (limit {tol:g})")
    if not np.isfinite(ours).all() or worst > tol:
        raise AssertionError(f"{label}: error {worst} above {tol}")


def randomise_batchnorm(bn, gen):
    with torch.no_grad():
        n = bn.num_features
        bn.running_mean.copy_(torch.randn(n, generator=gen))
        bn.running_var.copy_(torch.rand(n, generator=gen) * 2 + 0.1)
        bn.weight.copy_(torch.randn(n, generator=gen))
        bn.bias.copy_(torch.randn(n, generator=gen))


def case_mask(r):
    """The mask networks' shape, 100 random inputs, one and eight threads."""
    gen = torch.Generator().manual_seed(1)
    torch.manual_seed(1)
    model = nn.Sequential(
        nn.BatchNorm1d(1024),
        nn.Linear(1024, 512),
        nn.ReLU(),
        nn.Linear(512, 512),
        nn.ReLU(),
        nn.Linear(512, 256),
        nn.Sigmoid(),
    )
    randomise_batchnorm(model[0], gen)
    model.eval()
    x = torch.randn(100, 1024, generator=gen)
    with torch.no_grad():
        ref = model(x).numpy()
    path = r.export(model, "mask")
    for threads in (1, 8):
        compare(f"mask, {threads} thread(s)", r.run(path, x.numpy(), [1024], threads), ref, 1e-5)


def case_lstm(r):
    """nn.LSTM over 50 steps: one layer with unaligned sizes, one stacked."""
    gen = torch.Generator().manual_seed(2)
    torch.manual_seed(2)
    for inputs, units, layers, bias in ((13, 20, 1, True), (16, 32, 2, True), (5, 4, 1, False)):
        lstm = nn.LSTM(inputs, units, num_layers=layers, bias=bias)
        lstm.eval()
        x = torch.randn(50, inputs, generator=gen)
        with torch.no_grad():
            ref, _ = lstm(x)
        path = r.export(lstm, "lstm")
        ours = r.run(path, x.numpy()[None], [50, inputs]).reshape(50, units)
        compare(f"lstm {inputs}->{units} x{layers}{'' if bias else ' no bias'}", ours,
                ref.numpy(), 1e-5)


def case_conv(r):
    """Conv1d and Conv2d weight orders (engine inputs are channels-last)."""
    gen = torch.Generator().manual_seed(3)
    torch.manual_seed(3)
    conv1 = nn.Sequential(nn.Conv1d(3, 5, 4), nn.Tanh())
    conv1.eval()
    x = torch.randn(6, 3, 20, generator=gen)  # torch [channels, steps]
    with torch.no_grad():
        ref = conv1(x).permute(0, 2, 1).numpy()  # -> [steps, filters]
    ours = r.run(r.export(conv1, "conv1d"), x.permute(0, 2, 1).numpy(), [20, 3])
    compare("conv1d 3->5 k4 tanh", ours, ref.reshape(6, -1), 1e-5)

    conv2 = nn.Sequential(nn.Conv2d(3, 4, (2, 3)), nn.ReLU(), nn.MaxPool2d(2))
    conv2.eval()
    x = torch.randn(4, 3, 9, 10, generator=gen)  # torch [channels, rows, columns]
    with torch.no_grad():
        ref = conv2(x).permute(0, 2, 3, 1).numpy()  # -> [rows, columns, filters]
    ours = r.run(r.export(conv2, "conv2d"), x.permute(0, 2, 3, 1).numpy(), [9, 10, 3])
    compare("conv2d 3->4 2x3 relu, max pool 2", ours, ref.reshape(4, -1), 1e-5)


def case_layers(r):
    """Each activation, folded and standalone; ELU alpha 2; embedding; flatten."""
    gen = torch.Generator().manual_seed(4)
    torch.manual_seed(4)
    acts = [nn.ReLU(), nn.ELU(), nn.Softplus(), nn.Softsign(), nn.Sigmoid(), nn.Tanh(),
            nn.Softmax(dim=-1)]
    x = torch.randn(20, 12, generator=gen) * 3
    for act in acts:
        for standalone in (False, True):
            model = nn.Sequential(act) if standalone else nn.Sequential(nn.Linear(12, 7), act)
            model.eval()
            with torch.no_grad():
                ref = model(x).numpy()
            ours = r.run(r.export(model, "act"), x.numpy(), [12])
            how = "standalone" if standalone else "folded"
            compare(f"{type(act).__name__} {how}", ours, ref, 1e-5, relative=True)

    model = nn.Sequential(nn.Linear(12, 6), nn.ELU(alpha=2.0), nn.Dropout(0.5), nn.Linear(6, 3))
    model.eval()
    with torch.no_grad():
        ref = model(x).numpy()
    compare("linear, elu alpha 2, dropout, linear",
            r.run(r.export(model, "elu"), x.numpy(), [12]), ref, 1e-5, relative=True)

    # Missing biases and affine parameters are exported as zeros and ones.
    model = nn.Sequential(nn.BatchNorm1d(12, affine=False), nn.Linear(12, 5, bias=False), nn.Tanh())
    with torch.no_grad():
        model[0].running_mean.copy_(torch.randn(12, generator=gen))
        model[0].running_var.copy_(torch.rand(12, generator=gen) * 2 + 0.1)
    model.eval()
    with torch.no_grad():
        ref = model(x).numpy()
    compare("batch norm without affine, linear without bias",
            r.run(r.export(model, "nobias"), x.numpy(), [12]), ref, 1e-5, relative=True)

    emb = nn.Sequential(nn.Embedding(10, 4), nn.Flatten(0))
    idx = torch.tensor([[3, 0, 9], [1, 1, 2]])
    with torch.no_grad():
        ref = torch.stack([emb(row) for row in idx]).numpy()
    ours = r.run(r.export(emb, "embedding"), idx.float().numpy(), [3])
    compare("embedding, flatten", ours, ref, 0.0)


def case_refusals(r):
    """The exporter names what it cannot express; nn-predict fails on bad files."""
    refused = [
        (nn.Sequential(nn.Linear(4, 4), nn.GRU(4, 4)), "'1' (GRU)"),
        (nn.Sequential(nn.Conv1d(2, 2, 3, stride=2)), "'0' (Conv1d): stride"),
        (nn.Sequential(nn.Conv2d(2, 2, 3, padding=1)), "'0' (Conv2d): padding"),
        (nn.Sequential(nn.BatchNorm1d(4)), "'0' (BatchNorm1d): in training mode"),
        (nn.LSTM(4, 4, bidirectional=True), "'LSTM' (LSTM): bidirectional"),
        (nn.Sequential(nn.Linear(4, 4), nn.Hardsigmoid()), "'1' (Hardsigmoid)"),
        (nn.Sequential(nn.MaxPool2d(2, stride=1)), "'0' (MaxPool2d): stride"),
        (nn.Sequential(nn.Softmax(dim=1)), "'0' (Softmax): dim 1"),
        (nn.Sequential(nn.Linear(4, 4), nn.Softplus(threshold=5)), "'1' (Softplus): threshold"),
        (nn.Sequential(nn.Conv1d(2, 3, 2), nn.ReLU(), nn.Flatten(), nn.Linear(9, 2)),
         "'2' (Flatten): after '0' (Conv1d): torch flattens channels first"),
        (nn.Sequential(nn.Conv2d(2, 3, 2), nn.MaxPool2d(2), nn.Flatten()),
         "'2' (Flatten): after '1' (MaxPool2d)"),
        (nn.Sequential(nn.Conv1d(2, 3, 2), nn.Softmax(dim=-1)), "'1' (Softmax): after '0' (Conv1d)"),
        (nn.Sequential(nn.Embedding(5, 4), nn.Linear(4, 2)), "'1' (Linear): after '0' (Embedding)"),
        (nn.Sequential(nn.Conv1d(2, 3, 2), nn.BatchNorm1d(3).eval()),
         "'1' (BatchNorm1d): after '0' (Conv1d)"),
        (nn.Sequential(), "no layer"),
    ]
    for model, expected in refused:
        try:
            export_model.to_bytes(model)
        except export_model.ExportError as e:
            if expected not in str(e):
                raise AssertionError(f"refusal '{e}' does not name {expected!r}")
            print(f"  refused: {e}")
            continue
        raise AssertionError(f"exported a model it cannot express: {expected}")

    model = nn.Sequential(nn.Linear(4, 3), nn.ReLU())
    good = export_model.to_bytes(model)
    cut = r.path("cut.model")
    with open(cut, "wb") as f:
        f.write(good[:20])  # inside the weights' data
    bad_cases = [
        ([cut, r.path("in"), r.path("out")], "Weights tensor parse failed"),
        ([r.path("missing.model"), r.path("in"), r.path("out")], "File open failed: "),
    ]
    for args, expected in bad_cases:
        np.zeros(4, dtype="<f4").tofile(args[1])
        done = subprocess.run([r.predict, "--dims", "4"] + args, capture_output=True, text=True)
        if done.returncode == 0 or expected not in done.stderr:
            raise AssertionError(f"nn-predict on a bad model: rc {done.returncode}, {done.stderr}")
        print(f"  bad model rejected: {done.stderr.strip().splitlines()[-1]}")

    # The command line: a saved module exports as the module API writes it;
    # a file that is no torch save is refused without writing the output.
    saved, written = r.path("saved.pt"), r.path("cli.model")
    torch.save(model, saved)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "export_model.py")
    done = subprocess.run([sys.executable, script, saved, written], capture_output=True, text=True)
    if done.returncode != 0 or open(written, "rb").read() != good:
        raise AssertionError(f"export_model.py on a saved module: {done.stderr}")
    junk, unwritten = r.path("junk.pt"), r.path("junk.model")
    with open(junk, "wb") as f:
        f.write(b"not a torch save")
    done = subprocess.run([sys.executable, script, junk, unwritten], capture_output=True, text=True)
    if done.returncode == 0 or "cannot be loaded" not in done.stderr or os.path.exists(unwritten):
        raise AssertionError(f"export_model.py on a bad file: rc {done.returncode}, {done.stderr}")
    print("  command line exports a saved module, refuses a bad file")

    wrong = r.path("wrong.model")
    export_model.export(model, wrong)
    inp = r.path("in.f32")
    np.zeros(5, dtype="<f4").tofile(inp)
    done = subprocess.run([r.predict, "--dims", "5", wrong, inp, r.path("out")],
                          capture_output=True, text=True)
    if done.returncode == 0 or "Layer apply failed" not in done.stderr:
        raise AssertionError(f"nn-predict on a mismatched input: {done.stderr}")
    print("  mismatched input rejected")


CASES = {
    "mask": case_mask,
    "lstm": case_lstm,
    "conv": case_conv,
    "layers": case_layers,
    "refusals": case_refusals,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--predict", required=True, help="path of nn-predict")
    parser.add_argument("--case", action="append", choices=sorted(CASES), help="default: all")
    args = parser.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory(prefix="nn-parity-") as tmp:
        r = Runner(args.predict, tmp)
        for name in args.case or list(CASES):
            print(f"{name}:")
            try:
                CASES[name](r)
            except AssertionError as e:
                print(f"FAILED {name}: {e}")
                failed += 1
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
