#!/usr/bin/python3
"""The whole model road on two short songs: dataset, export, one epoch of
training, and the exported model files run by the engine.

    test_smoke_road.py --export path/to/stemvolta-export --predict path/to/nn-predict

Fails when a step fails, when the exported records do not fit the layout the
trainer reads, or when the engine and PyTorch differ by more than 1e-5.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TRAIN = os.path.join(ROOT, "tools", "train")
TOOLS = {}


def run(cmd):
    started = time.time()
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s\n%s" % (" ".join(cmd), done.returncode,
                                                          done.stdout, done.stderr))
    return done.stdout, time.time() - started


class SmokeRoadTest(unittest.TestCase):
    def test_dataset_export_train_and_engine_agree(self):
        with tempfile.TemporaryDirectory() as tmp:
            data = os.path.join(tmp, "dataset")
            export = os.path.join(tmp, "export")
            models = os.path.join(tmp, "models")
            py = sys.executable
            _, t_data = run([py, os.path.join(TRAIN, "make_dataset.py"), data, "--smoke",
                             "--jobs", "2"])
            out, t_export = run([TOOLS["export"], os.path.join(data, "train"), export])
            self.assertIn("1 tracks", out)

            sizes = {n: os.path.getsize(os.path.join(export, n))
                     for n in ["mix.dat"] + ["mask%d.dat" % k for k in range(4)]}
            frames = sizes["mix.dat"] // (4 * 256 * 4)
            self.assertGreater(frames, 400)  # six seconds at 86 frames a second
            self.assertEqual(sizes["mix.dat"], frames * 4 * 256 * 4)
            for k in range(4):
                self.assertEqual(sizes["mask%d.dat" % k], frames * 256 * 4)

            # A second export into the same folder would double the records.
            again = subprocess.run([TOOLS["export"], os.path.join(data, "train"), export],
                                   capture_output=True, text=True)
            self.assertEqual(again.returncode, 2)
            self.assertEqual(os.path.getsize(os.path.join(export, "mix.dat")), sizes["mix.dat"])

            _, t_train = run([py, os.path.join(TRAIN, "train.py"), export, "--out", models,
                              "--hidden", "32", "--epochs", "1", "--batch", "64",
                              "--threads", "2", "--compression", "log-trained", "--joint",
                              "--average", "0.99", "--predict", TOOLS["predict"]])
            with open(os.path.join(models, "train-summary.json")) as f:
                summary = json.load(f)
            self.assertEqual(summary["records"], frames)
            self.assertLessEqual(summary["engine_max_difference"], 1e-5)
            for k in range(4):
                self.assertTrue(os.path.isfile(os.path.join(models,
                                                            "dnn-model-source%d.model" % k)))
            print("smoke road: dataset %.1f s, export %.1f s, training %.1f s"
                  % (t_data, t_export, t_train), file=sys.stderr)


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--export", required=True)
    ap.add_argument("--predict", required=True)
    args, rest = ap.parse_known_args()
    TOOLS.update(export=args.export, predict=args.predict)
    unittest.main(argv=[sys.argv[0]] + rest)
