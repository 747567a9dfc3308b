#!/usr/bin/python3
"""tools/train/fuse_models.py on small member networks of train.py's shapes.

    test_fuse_models.py [--predict path/to/nn-predict]

With --predict the fused files are also run by the engine and must agree
with PyTorch within 1e-5.
"""

import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import torch

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "train"))
import fuse_models  # noqa: E402
import train  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_train import take_predict_argument  # noqa: E402

PREDICT = None


def member(level, hidden, compression, seed):
    """A train.py network with random weights (and, when trainable, lookup
    rows) of its own."""
    torch.manual_seed(seed)
    model = train.build_model(level, hidden, compression)
    with torch.no_grad():
        for m in model:
            if isinstance(m, train.LevelLookup) and m.weight.requires_grad:
                m.weight.add_(0.05 * torch.randn_like(m.weight))
            elif isinstance(m, torch.nn.Linear):
                m.weight.normal_(0, 0.05)
                m.bias.normal_(0, 0.3)
    return model.eval()


def logit(model, x):
    """The member's output before its final sigmoid."""
    with torch.no_grad():
        return torch.nn.Sequential(*list(model)[:-1])(x)


def inputs(rng, count=64):
    """Magnitudes over many decades, with silent bins and a silent record."""
    x = (10 ** rng.uniform(-8, 2, size=(count, train.INPUTS))).astype(np.float32)
    x[rng.random(x.shape) < 0.1] = 0
    x[0] = 0
    return torch.from_numpy(x)


class FuseTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.rng = np.random.default_rng(5)
        self.level = 10 ** self.rng.uniform(-4, 0, size=train.INPUTS)

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, models):
        """One member folder holding the four stems' files."""
        folder = os.path.join(self.dir, name)
        train.export_all(list(enumerate(models)), folder)
        return folder

    def test_fused_network_is_the_mean_logit_of_its_members(self):
        # compression, hidden widths, members, inputs of the first dense layer
        cases = [("log-trained", [32], 2, 2048), ("log-trained", [24, 16], 3, 3072),
                 ("log", [32], 2, 1024), ("softsign", [32], 2, 1024)]
        for compression, hidden, count, first_inputs in cases:
            with self.subTest(compression=compression, hidden=hidden, members=count):
                nets = [[member(self.level, hidden, compression, 10 * j + k) for k in range(4)]
                        for j in range(count)]
                folders = [self.write(f"{compression}-{len(hidden)}-{j}", n)
                           for j, n in enumerate(nets)]
                x = inputs(self.rng)
                for k in range(4):
                    paths = [os.path.join(f, f"dnn-model-source{k}.model") for f in folders]
                    fused = fuse_models.fuse(paths)
                    dense = [m for m in fused if isinstance(m, torch.nn.Linear)]
                    self.assertEqual(dense[0].in_features, first_inputs)
                    with torch.no_grad():
                        got = fused(x)
                    want = torch.sigmoid(sum(logit(n[k], x) for n in nets) / count)
                    torch.testing.assert_close(got, want, rtol=0, atol=2e-6)
                    if PREDICT:
                        written = train.export_all([(k, fused)], os.path.join(self.dir, "f"))
                        worst = train.check_with_engine(PREDICT, [(k, fused)], written,
                                                        x.numpy(), count=len(x))
                        self.assertLessEqual(worst, 1e-5)

    def test_one_member_gives_its_own_file_back(self):
        folder = self.write("one", [member(self.level, [32], "log-trained", k) for k in range(4)])
        out = os.path.join(self.dir, "fused")
        self.assertEqual(fuse_models.main([out, folder]), 0)
        for k in range(4):
            name = f"dnn-model-source{k}.model"
            with open(os.path.join(folder, name), "rb") as a, open(os.path.join(out, name), "rb") as b:
                self.assertEqual(a.read(), b.read())

    def test_refuses_members_that_do_not_fit(self):
        base = self.write("base", [member(self.level, [32], "log-trained", k) for k in range(4)])
        other_level = self.write("level", [member(self.level * 1.01, [32], "log-trained", k)
                                           for k in range(4)])
        wider = self.write("wider", [member(self.level, [48], "log-trained", k) for k in range(4)])
        no_lookup = self.write("softsign", [member(self.level, [32], "softsign", k)
                                            for k in range(4)])
        cut = os.path.join(self.dir, "cut")
        os.makedirs(cut)
        for k in range(4):
            name = f"dnn-model-source{k}.model"
            with open(os.path.join(base, name), "rb") as f:
                data = f.read()
            with open(os.path.join(cut, name), "wb") as f:
                f.write(data[:len(data) // 2])
        cases = {"another level": other_level, "other widths": wider,
                 "no lookup": no_lookup, "cut short": cut,
                 "missing": os.path.join(self.dir, "nothing")}
        for label, folder in cases.items():
            with self.subTest(label):
                out = os.path.join(self.dir, "out-" + label.replace(" ", "-"))
                done = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "train",
                                                                    "fuse_models.py"),
                                       out, base, folder], capture_output=True, text=True)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn("fuse_models: ", done.stderr)
                self.assertFalse(os.path.exists(os.path.join(out, "dnn-model-source0.model")))


if __name__ == "__main__":
    PREDICT = take_predict_argument(sys.argv)
    unittest.main(verbosity=2)
