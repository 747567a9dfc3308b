#!/usr/bin/python3
"""Tests of tools/train/evaluate.py: the SDR scoring on signals of known SDR
and, given --render PATH, the whole road on a tiny synthetic test split.

    test_evaluate.py [--render build/release/tools/render/stemvolta-render]
"""

import math
import os
import struct
import sys
import tempfile
import unittest

import numpy as np
import soundfile as sf

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "train"))
import evaluate  # noqa: E402

RENDER = None
RATE = 44100


class WindowSdrTest(unittest.TestCase):
    def setUp(self):
        self.rng = np.random.default_rng(7)

    def test_known_sdr_per_window(self):
        # s_hat = s * (1 + g): error energy g^2 of the signal's, SDR = -20 log10 g.
        s = self.rng.standard_normal((3 * 100, 2))
        for g, expected in [(0.1, 20.0), (1.0, 0.0), (0.01, 40.0), (-2.0, -6.0206)]:
            scores = evaluate.window_sdrs(s, s * (1 + g), 100)
            self.assertEqual(3, len(scores))
            for v in scores:
                self.assertAlmostEqual(expected, v, places=3)

    def test_channels_are_scored_together(self):
        # Channel 0 exact, channel 1 off by its own size: half the energy in error.
        s = self.rng.standard_normal((100, 2))
        est = s.copy()
        est[:, 1] = 0.0
        expected = 10 * math.log10(np.sum(s * s) / np.sum(s[:, 1] ** 2))
        self.assertAlmostEqual(expected, evaluate.window_sdrs(s, est, 100)[0], places=9)

    def test_silent_windows_and_partial_window_are_skipped(self):
        s = self.rng.standard_normal(550)
        est = 1.1 * s
        s[100:200] = 0.0     # window 1: silent reference
        est[300:400] = 0.0   # window 3: silent estimate
        scores = evaluate.window_sdrs(s, est, 100)
        # Windows 0, 2 and 4 count; the last 50 frames make no whole window.
        self.assertEqual(3, len(scores))
        for v in scores:
            self.assertAlmostEqual(20.0, v, places=6)

    def test_short_estimate_is_padded_and_long_one_cut(self):
        s = self.rng.standard_normal(300)
        self.assertEqual(2, len(evaluate.window_sdrs(s, 1.1 * s[:200], 100)))
        long_est = np.concatenate([1.1 * s, np.ones(500)])
        self.assertEqual([20.0] * 3, [round(v, 6) for v in evaluate.window_sdrs(s, long_est, 100)])

    def test_exact_estimate_is_capped(self):
        s = self.rng.standard_normal(100)
        self.assertAlmostEqual(evaluate.MAX_SDR_DB, evaluate.window_sdrs(s, s, 100)[0])

    def test_bad_shapes_raise(self):
        with self.assertRaises(ValueError):
            evaluate.window_sdrs(np.ones((10, 2)), np.ones((10, 1)), 5)
        with self.assertRaises(ValueError):
            evaluate.window_sdrs(np.ones(10), np.ones(10), 0)


class MedianTest(unittest.TestCase):
    def test_song_score_is_the_median_over_windows(self):
        rng = np.random.default_rng(3)
        s = rng.standard_normal(500)
        est = s.copy()
        # Window SDRs 10, 20, 30, 40, 0 dB -> median 20.
        for w, sdr in enumerate([10, 20, 30, 40, 0]):
            est[w * 100:(w + 1) * 100] *= 1 + 10 ** (-sdr / 20)
        self.assertAlmostEqual(20.0, evaluate.song_score(s, est, 100), places=6)
        self.assertIsNone(evaluate.song_score(np.zeros(500), est, 100))

    def test_summary_medians_songs_and_averages_stems(self):
        per_song = {"networks": {"vocals": [1.0, 5.0, 3.0], "bass": [2.0, None, 4.0],
                                 "drums": [0.0, 0.0, 9.0], "other": [None, None, -1.0]}}
        row = evaluate.summarise(per_song)["networks"]
        self.assertEqual({"vocals": 3.0, "bass": 3.0, "drums": 0.0, "other": -1.0},
                         {s: row[s] for s in evaluate.STEMS})
        self.assertAlmostEqual(1.25, row["average"])
        row = evaluate.summarise({"m": {s: [None] for s in evaluate.STEMS}})["m"]
        self.assertIsNone(row["vocals"])
        self.assertIsNone(row["average"])

    def test_targets(self):
        base = {"vocals": 1.0, "bass": 1.0, "drums": 1.0, "other": 1.0, "average": 1.0}
        oracle = {"vocals": 10.0, "bass": 8.0, "drums": 8.0, "other": 6.0, "average": 8.0}
        good = {"vocals": 5.0, "bass": 3.5, "drums": 4.0, "other": 3.5, "average": 4.0}
        weak = dict(good, bass=3.4, average=3.975)
        checks = evaluate.check_targets({"networks": good, "baseline": base, "oracle": oracle})
        self.assertTrue(all(ok for _, ok in checks))
        checks = dict(evaluate.check_targets({"networks": weak, "baseline": base,
                                              "oracle": oracle}))
        self.assertFalse(checks["bass at least 2.5 dB above the baseline"])
        self.assertFalse(checks["average at least half the oracle's"])
        self.assertTrue(checks["vocals at least 2.5 dB above the baseline"])


def write_constant_mask_model(path, value, inputs=1024):
    """A model whose every output is value: one batch normalisation layer
    (id 12) with zero weights, in the engine's little-endian file format."""
    with open(path, "wb") as f:
        f.write(struct.pack("<II", 1, 12))
        f.write(struct.pack("<I", inputs) + struct.pack("<%df" % inputs, *([0.0] * inputs)))
        f.write(struct.pack("<I", inputs) + struct.pack("<%df" % inputs, *([value] * inputs)))


def write_split(folder, tracks, seconds):
    """A test split of tones in disjoint bands, one per stem, equal levels."""
    hz = {"vocals": 3000.0, "bass": 110.0, "drums": 9000.0, "other": 700.0}
    t = np.arange(int(seconds * RATE)) / RATE
    for n, track in enumerate(tracks):
        os.makedirs(os.path.join(folder, "Mixtures", track))
        os.makedirs(os.path.join(folder, "Sources", track))
        mix = 0.0
        for k, stem in enumerate(evaluate.STEMS):
            tone = 0.2 * np.sin(2 * np.pi * hz[stem] * (1 + 0.01 * n) * t + k)
            audio = np.stack([tone, np.roll(tone, 7)], axis=1)
            sf.write(os.path.join(folder, "Sources", track, stem + ".wav"), audio, RATE,
                     subtype="FLOAT")
            mix = mix + audio
        sf.write(os.path.join(folder, "Mixtures", track, "mixture.wav"), mix, RATE,
                 subtype="FLOAT")
    with open(os.path.join(folder, "Tracks.txt"), "w") as f:
        f.write("\n".join(tracks) + "\n")


@unittest.skipUnless(RENDER or "--render" in sys.argv, "needs --render PATH")
class EndToEndTest(unittest.TestCase):
    def test_report_of_a_tiny_split(self):
        with tempfile.TemporaryDirectory() as tmp:
            split = os.path.join(tmp, "test")
            models = os.path.join(tmp, "models")
            os.makedirs(models)
            for k in range(4):
                write_constant_mask_model(os.path.join(models, "dnn-model-source%d.model" % k),
                                          1.0)
            write_split(split, ["song-a", "song-b", "song-c"], 4.0)
            out = os.path.join(tmp, "docs", "quality.md")
            scores = os.path.join(tmp, "scores.json")
            rc = evaluate.main(["--models", models, "--songs", "2", "--jobs", "4",
                                "--dataset", split, "--render", RENDER, "--out", out,
                                "--json", scores])
            self.assertEqual(0, rc)
            import json
            with open(scores) as f:
                result = json.load(f)
            self.assertEqual(["song-a", "song-b"], result["tracks"])
            table = result["table"]
            # Equal masks: each stem's soft share is a quarter, so the networks'
            # estimate is the baseline's, mixture / 4: SDR 10 log10(1 / 0.75).
            for stem in evaluate.STEMS:
                self.assertAlmostEqual(10 * math.log10(1 / 0.75), table["baseline"][stem],
                                       places=1)
                self.assertAlmostEqual(table["baseline"][stem], table["networks"][stem],
                                       delta=0.1)
                # Tones in disjoint bands: the ideal masks separate them.
                self.assertGreater(table["oracle"][stem], 15.0, stem)
            with open(out) as f:
                report = f.read()
            self.assertIn("| oracle (ideal binary masks) |", report)
            self.assertIn("| song-b |", report)
            self.assertNotIn("| song-c |", report)
            self.assertIn("NOT met", report)
            self.assertIn("evaluate.py --models", report)
            self.assertNotIn("--skip", report)

    def test_skip_scores_the_songs_after_the_first(self):
        # Validation songs follow the reported ones: --skip must take exactly
        # the songs after them, and say so in the reproduce line.
        with tempfile.TemporaryDirectory() as tmp:
            split = os.path.join(tmp, "test")
            for k in range(4):
                write_constant_mask_model(os.path.join(tmp, "dnn-model-source%d.model" % k), 1.0)
            write_split(split, ["song-a", "song-b", "song-c", "song-d"], 1.0)
            out = os.path.join(tmp, "quality.md")
            scores = os.path.join(tmp, "scores.json")
            for skip, songs, tracks in ((1, 2, ["song-b", "song-c"]), (3, 5, ["song-d"])):
                self.assertEqual(0, evaluate.main(
                    ["--models", tmp, "--songs", str(songs), "--skip", str(skip),
                     "--no-oracle", "--dataset", split, "--render", RENDER, "--out", out,
                     "--json", scores]))
                import json
                with open(scores) as f:
                    self.assertEqual(tracks, json.load(f)["tracks"])
                with open(out) as f:
                    self.assertIn("--skip %d" % skip, f.read())
            for skip in ("4", "-1"):
                with self.assertRaises(SystemExit):
                    evaluate.main(["--models", tmp, "--skip", skip, "--dataset", split,
                                   "--render", RENDER, "--out", out])

    def test_a_failing_render_fails_the_evaluation(self):
        with tempfile.TemporaryDirectory() as tmp:
            split = os.path.join(tmp, "test")
            for k in range(4):
                write_constant_mask_model(os.path.join(tmp, "dnn-model-source%d.model" % k), 1.0)
            write_split(split, ["song-a"], 1.0)
            out = os.path.join(tmp, "quality.md")
            self.assertEqual(1, evaluate.main(["--models", tmp, "--dataset", split,
                                               "--render", "/bin/false", "--out", out]))
            self.assertFalse(os.path.exists(out))

    def test_missing_models_fail_before_rendering(self):
        with tempfile.TemporaryDirectory() as tmp:
            with self.assertRaises(SystemExit):
                evaluate.main(["--models", tmp, "--render", RENDER, "--dataset", tmp])


if __name__ == "__main__":
    if "--render" in sys.argv:
        i = sys.argv.index("--render")
        RENDER = os.path.abspath(sys.argv[i + 1])
        del sys.argv[i:i + 2]
    unittest.main()
