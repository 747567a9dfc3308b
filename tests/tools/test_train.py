#!/usr/bin/python3
"""tools/train/train.py on a small synthetic set of training-data files.

    test_train.py [--predict path/to/nn-predict]

With --predict the written model files are also run by the engine and must
agree with PyTorch within 1e-5.
"""

import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import torch

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "train"))
import train  # noqa: E402

PREDICT = None


def write_dat_set(folder, records, seed=3):
    """Four sources with distinct spectral shapes and random on/off levels;
    mix = their sum over four frames, masks = the loudest source per bin of the
    newest frame (ties to the lower stem), as the export mode defines them."""
    rng = np.random.default_rng(seed)
    bins = np.arange(train.BINS)
    shapes = np.stack([
        np.exp(-((bins - 90) / 25.0) ** 2),           # vocals: mid band
        np.exp(-bins / 12.0),                          # bass: lowest bins
        0.3 + 0.2 * np.sin(bins / 3.0) ** 2,           # drums: broad, combed
        np.exp(-((bins - 160) / 40.0) ** 2),          # other: upper band
    ])
    level = 10 ** rng.uniform(-1, 2, size=(records, 4)) * (rng.random((records, 4)) < 0.8)
    noise = rng.uniform(0.7, 1.3, size=(records, train.FRAMES, 4, train.BINS))
    sources = level[:, None, :, None] * shapes[None, None] * noise
    mix = sources.sum(axis=2).astype(np.float32)  # (records, frames, bins)
    newest = sources[:, -1]
    winner = np.argmax(newest, axis=1)  # first maximum: ties go to the lower stem
    os.makedirs(folder, exist_ok=True)
    mix.reshape(records, -1).tofile(os.path.join(folder, "mix.dat"))
    for k in range(4):
        (winner == k).astype(np.float32).tofile(os.path.join(folder, f"mask{k}.dat"))
    return mix, winner


def read_layer_ids(path):
    """Layer IDs of a model file, and the first layer's scale when it is a
    batch normalisation."""
    with open(path, "rb") as f:
        data = f.read()
    count, first = struct.unpack_from("<II", data, 0)
    scale = None
    if first == 12:
        (n,) = struct.unpack_from("<I", data, 8)
        scale = np.frombuffer(data, dtype="<f4", count=n, offset=12)
    return count, first, scale


class TrainTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_train(self, *args):
        return subprocess.run([sys.executable, os.path.join(ROOT, "tools", "train", "train.py"),
                               *args], capture_output=True, text=True)

    def train_in_process(self, *args):
        """train.main's exit code; argparse's refusals count as their code."""
        try:
            return train.main(list(args))
        except SystemExit as e:
            return e.code

    def learn_small_set(self, *extra):
        """Trains the four networks on 6000 records of write_dat_set, holding
        out 1500 others; checks that they learned and that the engine agrees
        with PyTorch. Returns the training folder, the output folder and the
        summary."""
        data = os.path.join(self.dir, "data")
        val = os.path.join(self.dir, "val")
        out = os.path.join(self.dir, "out")
        write_dat_set(data, 6000, seed=3)
        write_dat_set(val, 1500, seed=4)
        args = [data, "--out", out, "--val", val, "--hidden", "64", "--epochs", "3",
                "--batch", "128", "--lr", "3e-3", "--threads", "2", *extra]
        if PREDICT:
            args += ["--predict", PREDICT]
        done = self.run_train(*args)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(os.path.join(out, "train-summary.json")) as f:
            summary = json.load(f)
        # The untrained network predicts about 0.5 everywhere: BCE ln 2.
        for k, loss in enumerate(summary["val_loss"]):
            self.assertLess(loss, 0.35, f"stem {k} held-out loss {loss}")
        if PREDICT:
            self.assertLessEqual(summary["engine_max_difference"], 1e-5)
        return data, out, summary

    def test_learns_the_masks_and_writes_four_model_files(self):
        data, out, summary = self.learn_small_set("--checkpoints", "1")
        self.assertEqual(len(summary["checkpoints"]), 3)
        level = train.input_scale(train.open_records(data)[0], np.random.default_rng(1))
        for k in range(4):
            path = os.path.join(out, f"dnn-model-source{k}.model")
            self.assertTrue(os.path.isfile(path))
            self.assertLess(os.path.getsize(path), 8 * 1024 * 1024)
            count, first, scale = read_layer_ids(path)
            # scale, softsign, dense + relu, dense + sigmoid
            self.assertEqual((count, first), (4, 12))
            np.testing.assert_allclose(scale, 1.0 / level, rtol=1e-5)
            ckpt = os.path.join(summary["checkpoints"][0]["folder"], f"dnn-model-source{k}.model")
            self.assertTrue(os.path.isfile(ckpt))

    def test_one_stem_and_a_deeper_network(self):
        data = os.path.join(self.dir, "data")
        out = os.path.join(self.dir, "out")
        write_dat_set(data, 1000)
        done = self.run_train(data, "--out", out, "--stems", "2", "--hidden", "32,16",
                              "--epochs", "0.5", "--compression", "tanh", "--threads", "1")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(sorted(f for f in os.listdir(out) if f.endswith(".model")),
                         ["dnn-model-source2.model"])
        count, first, _ = read_layer_ids(os.path.join(out, "dnn-model-source2.model"))
        self.assertEqual((count, first), (5, 12))

    def test_joint_training_of_log_compressed_networks_with_averaged_weights(self):
        _, out, summary = self.learn_small_set("--compression", "log", "--joint",
                                               "--average", "0.99")
        self.assertTrue(summary["joint"])
        # scale, softsign, scale, lookup, flatten, dense + relu, dense + sigmoid
        count, first, _ = read_layer_ids(os.path.join(out, "dnn-model-source0.model"))
        self.assertEqual((count, first), (7, 12))

    def test_log_compression_covers_every_magnitude(self):
        """Silence, magnitudes far below and far above the scale, and values
        where softsign rounds to 1 all land on a row of the table, and the
        result grows with the magnitude like a logarithm. (An infinite input
        gives NaN, which the engine's lookup refuses: the frame's mask is 0.)"""
        level = np.full(train.INPUTS, 1e-3)
        layers = torch.nn.Sequential(train.level_scale(level), *train.log_compression())
        x = np.array([0.0, 1e-12, 1e-9, 1e-6, 1e-3, 1.0, 1e3, 1e9, 1e30], dtype=np.float32)
        batch = np.zeros((1, train.INPUTS), dtype=np.float32)
        batch[0, :len(x)] = x
        with torch.no_grad():
            y = layers(torch.from_numpy(batch)).numpy()[0, :len(x)]
        self.assertTrue(np.all(np.isfinite(y)))
        self.assertTrue(np.all(np.diff(y[1:]) >= 0), y)
        # Between 1e-6 and 1 (x / level from 1e-3 to 1e3) the rows are the
        # logarithm to within a row's width; above, the rows grow coarse.
        ln = train.LOG_SCALE * np.log(x[3:6] / 1e-3)
        np.testing.assert_allclose(y[3:6], ln, atol=0.02)
        if PREDICT:
            model = torch.nn.Sequential(*layers, torch.nn.Linear(train.INPUTS, train.BINS),
                                        torch.nn.Sigmoid())
            paths = train.export_all([(0, model)], os.path.join(self.dir, "log"))
            worst = train.check_with_engine(PREDICT, [(0, model)], paths, batch, count=1)
            self.assertLessEqual(worst, 1e-5)

    def test_runs_of_any_length_keep_a_finite_learning_rate(self):
        model = torch.nn.Linear(2, 1)
        for steps in (1, 2, 7, 8, 20, 39, 40, 1000):
            with self.subTest(steps=steps):
                opt = torch.optim.Adam(model.parameters(), lr=1e-3)
                sched = train.one_cycle(opt, 1e-3, steps)
                for _ in range(steps):
                    opt.step()
                    sched.step()
                    lr = opt.param_groups[0]["lr"]
                    self.assertTrue(0 < lr <= 1e-3 * (1 + 1e-9), lr)

    def test_binary_masks_are_held_compactly_and_train_the_same(self):
        # 0/1 masks held as uint8 must give exactly the float batches; a mask
        # with any other value (here one 0.5, a NaN in another) must stay float.
        data = os.path.join(self.dir, "data")
        write_dat_set(data, 3000)
        floats = [np.fromfile(os.path.join(data, f"mask{k}.dat"), dtype=np.float32)
                  .reshape(-1, train.BINS) for k in range(4)]
        mix, masks = train.open_records(data)
        self.assertEqual([m.dtype for m in masks], [np.uint8] * 4)
        mapped = [np.memmap(os.path.join(data, f"mask{k}.dat"), dtype=np.float32, mode="r")
                  .reshape(-1, train.BINS) for k in range(4)]
        compact = list(train.batches(mix, masks, 256, np.random.default_rng(5), chunk=512))
        plain = list(train.batches(mix, mapped, 256, np.random.default_rng(5), chunk=512))
        self.assertEqual(len(compact), len(plain))
        for (xa, ya), (xb, yb) in zip(compact, plain):
            np.testing.assert_array_equal(xa, xb)
            for a, b in zip(ya, yb):
                self.assertEqual(a.dtype, np.float32)
                np.testing.assert_array_equal(a, b)

        floats[1][2999, 7] = 0.5
        floats[2][0, 0] = np.nan
        for k in (1, 2):
            floats[k].tofile(os.path.join(data, f"mask{k}.dat"))
        _, masks = train.open_records(data)
        self.assertEqual([m.dtype for m in masks], [np.uint8, np.float32, np.float32, np.uint8])
        self.assertEqual(masks[1][2999, 7], 0.5)

    def test_half_mix_keeps_each_magnitude_and_falls_back_where_float16_cannot(self):
        rng = np.random.default_rng(8)
        x = (10 ** rng.uniform(-11, -0.001, size=(5000, train.INPUTS))).astype(np.float32)
        x[rng.random(x.shape) < 0.2] = 0
        half = train.half_or_float(x, chunk=1000)
        self.assertIsInstance(half, train.HalfRecords)
        self.assertEqual((half.data.dtype, half.shape, len(half)), (np.float16, x.shape, 5000))
        # As batches, evaluation and the input scale index the mix.
        for key in (np.array([0, 17, 4999]), (np.arange(10, 200), slice(768, None)),
                    slice(100, 300)):
            with self.subTest(key=str(key)[:40]):
                got, want = half[key], x[key]
                self.assertEqual(got.dtype, np.float32)
                err = np.abs(got - want)
                normal = want >= 2.0 ** -30  # float16's normal range once scaled
                self.assertTrue(np.all(err[normal] <= want[normal] * 2.0 ** -11))
                self.assertTrue(np.all(err[~normal] <= 2.0 ** -41))
                self.assertTrue(np.all(got[want == 0] == 0))
        for spoil in (1.0, np.inf, np.nan):  # 1.0 is past float16's top once scaled
            with self.subTest(spoil=spoil):
                y = x.copy()
                y[4321, 5] = spoil
                self.assertIs(train.half_or_float(y, chunk=1000), y)

        # Through a run: the summary says which was held.
        for label, gain in (("fits", 2.0 ** -10), ("too loud", 1.0)):
            with self.subTest(label):
                data = os.path.join(self.dir, label.replace(" ", "-"))
                mix, _ = write_dat_set(data, 2000)
                (mix * np.float32(gain)).tofile(os.path.join(data, "mix.dat"))
                out = os.path.join(self.dir, "out-" + label.replace(" ", "-"))
                code = self.train_in_process(data, "--out", out, "--half-mix", "--epochs", "0.2",
                                             "--hidden", "16", "--threads", "2")
                self.assertEqual(code, 0)
                with open(os.path.join(out, "train-summary.json")) as f:
                    self.assertEqual(json.load(f)["half_mix"], gain < 1)

    def test_refuses_files_that_do_not_fit(self):
        good = os.path.join(self.dir, "good")
        write_dat_set(good, 50)
        def append(path, data, mode="ab"):
            with open(path, mode) as f:
                f.write(data)

        cases = {
            "missing mask": lambda d: os.remove(os.path.join(d, "mask3.dat")),
            "empty mix": lambda d: append(os.path.join(d, "mix.dat"), b"", "wb"),
            "partial record": lambda d: append(os.path.join(d, "mix.dat"), b"\0" * 8),
            "count mismatch": lambda d: append(os.path.join(d, "mask1.dat"),
                                               b"\0" * 4 * train.BINS),
        }
        for label, spoil in cases.items():
            with self.subTest(label):
                d = os.path.join(self.dir, label.replace(" ", "-"))
                write_dat_set(d, 50)
                spoil(d)
                code = self.train_in_process(d, "--out", os.path.join(self.dir, "o"),
                                             "--epochs", "0.1")
                self.assertEqual(code, 2)
                self.assertFalse(os.path.exists(os.path.join(self.dir, "o", "dnn-model-source0.model")))
        for bad in (["--stems", "4"], ["--hidden", "0"], ["--epochs", "0"], ["--stems", "x"],
                    ["--joint", "--stems", "0,1"], ["--average", "1"],
                    ["--weight-power", "-0.5"], ["--weight-power", "nan"]):
            with self.subTest(bad):
                code = self.train_in_process(good, "--out", os.path.join(self.dir, "o"), *bad)
                self.assertNotEqual(code, 0)


if __name__ == "__main__":
    if "--predict" in sys.argv:
        i = sys.argv.index("--predict")
        PREDICT = sys.argv[i + 1]
        del sys.argv[i:i + 2]
    unittest.main(verbosity=2)
