#!/usr/bin/python3
"""tools/train/make_dataset.py: layout, sums, determinism and split hygiene."""

import filecmp
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import soundfile as sf

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "train", "make_dataset.py")
sys.path.insert(0, os.path.join(ROOT, "tools", "train"))
import dataset_music as music  # noqa: E402
import dataset_render as render  # noqa: E402
import dataset_singer as singer  # noqa: E402
import make_dataset  # noqa: E402


def run_tool(*args):
    return subprocess.run([sys.executable, TOOL, *args], capture_output=True, text=True)


class SmokeDataset(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.out = os.path.join(cls.tmp.name, "a")
        cls.done = run_tool(cls.out, "--smoke", "--jobs", "2")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_layout_lengths_and_mixture_is_the_sum(self):
        self.assertEqual(self.done.returncode, 0, self.done.stderr)
        for split in ("train", "test"):
            with open(os.path.join(self.out, split, "Tracks.txt")) as f:
                tracks = f.read().split()
            self.assertEqual(tracks, ["song-0000"])
            mix, rate = sf.read(os.path.join(self.out, split, "Mixtures", tracks[0],
                                             "mixture.wav"))
            self.assertEqual(rate, 44100)
            self.assertEqual(mix.shape, (6 * 44100, 2))
            total = np.zeros_like(mix)
            for stem in ("vocals", "bass", "drums", "other"):
                x, r = sf.read(os.path.join(self.out, split, "Sources", tracks[0], stem + ".wav"))
                self.assertEqual((r, x.shape), (44100, mix.shape), stem)
                if stem in ("bass", "other"):  # always played
                    self.assertGreater(np.max(np.abs(x)), 1e-3, f"{split} {stem} is silent")
                total += x
            # Five 16-bit files, each rounded on its own: a few steps at most.
            self.assertLess(np.max(np.abs(total - mix)), 6 * 2.0 ** -15)
            self.assertLessEqual(np.max(np.abs(mix)), 1.0)
        with open(os.path.join(self.out, "README.txt")) as f:
            self.assertIn("CC BY 4.0", f.read())

    def test_same_seed_gives_the_same_files(self):
        again = os.path.join(self.tmp.name, "b")
        done = run_tool(again, "--smoke", "--jobs", "1")
        self.assertEqual(done.returncode, 0, done.stderr)
        for split in ("train", "test"):
            for sub, name in (("Mixtures", "mixture.wav"), ("Sources", "drums.wav"),
                              ("Sources", "vocals.wav")):
                a = os.path.join(self.out, split, sub, "song-0000", name)
                b = os.path.join(again, split, sub, "song-0000", name)
                self.assertTrue(filecmp.cmp(a, b, shallow=False), f"{split} {name}")

    def test_keep_makes_only_the_missing_songs(self):
        kept = os.path.join(self.tmp.name, "k")
        shutil.copytree(self.out, kept)
        train_mix = os.path.join(kept, "train", "Mixtures", "song-0000", "mixture.wav")
        os.utime(train_mix, (1, 1))
        # The test song lost a source, as an interrupted run would leave it.
        os.remove(os.path.join(kept, "test", "Sources", "song-0000", "drums.wav"))
        done = run_tool(kept, "--smoke", "--jobs", "1", "--keep")
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(os.stat(train_mix).st_mtime, 1)
        for name in ("Sources/song-0000/drums.wav", "Mixtures/song-0000/mixture.wav"):
            self.assertTrue(filecmp.cmp(os.path.join(self.out, "test", name),
                                        os.path.join(kept, "test", name), shallow=False), name)
        for split in ("train", "test"):
            with open(os.path.join(kept, split, "Tracks.txt")) as f:
                self.assertEqual(f.read().split(), ["song-0000"])
        self.assertFalse(os.path.exists(os.path.join(kept, "test", "Mixtures", "song-0000",
                                                     "mixture.wav.part")))

    def test_training_songs_take_their_own_durations(self):
        out = os.path.join(self.tmp.name, "d")
        done = run_tool(out, "--train", "1", "--test", "1", "--min-seconds", "5",
                        "--max-seconds", "5", "--train-seconds", "3", "4", "--jobs", "2")
        self.assertEqual(done.returncode, 0, done.stderr)
        train = sf.info(os.path.join(out, "train", "Mixtures", "song-0000", "mixture.wav"))
        test = sf.info(os.path.join(out, "test", "Mixtures", "song-0000", "mixture.wav"))
        self.assertTrue(3.0 <= train.duration <= 4.0, train.duration)
        self.assertEqual(test.frames, 5 * 44100)

    def test_bad_arguments_are_refused(self):
        for bad in (["--jobs", "0"], ["--train", "-1"], ["--min-seconds", "9", "--max-seconds", "5"],
                    ["--train-seconds", "9", "5"], ["--train-seconds", "0", "5"]):
            with self.subTest(bad):
                done = run_tool(os.path.join(self.tmp.name, "c"), *bad)
                self.assertEqual(done.returncode, 2)


class SplitsAndSources(unittest.TestCase):
    def test_splits_share_no_instrument_kit_or_voice(self):
        train, test = make_dataset.INSTRUMENTS["train"], make_dataset.INSTRUMENTS["test"]
        for key in ("bass", "other", "voice_programs", "gm_kits", "kits", "perc_kits",
                    "languages", "male", "female"):
            with self.subTest(key):
                self.assertFalse(set(train[key]) & set(test[key]))
                self.assertTrue(test[key] or key == "perc_kits")
        self.assertFalse(set(train["other"]) & set(train["bass"] + train["voice_programs"]))
        self.assertFalse(test["recordings"])
        # Held-out vocals come only from voices named in the lists above.
        self.assertEqual([name for name, _ in test["vocal_sources"]], ["espeak", "gm"])
        for split in (train, test):
            self.assertEqual(split["vocal_sources"][-1][1], 1.0)

    def test_every_drum_kit_loads_and_sounds(self):
        # Some kits use the older layout with one <filename> per instrument.
        rng = np.random.default_rng(5)
        song = music.plan_song(rng, 1, 4.0)
        hits = music.drum_pattern(song, rng)
        for split in ("train", "test"):
            for kit in make_dataset.INSTRUMENTS[split]["kits"]:
                with self.subTest(kit):
                    roles = render.load_kit_index(kit)
                    self.assertIn("kick", roles)
                    self.assertIn("snare", roles)
                    out = render.render_kit(kit, hits, 4 * render.RATE, rng)
                    self.assertGreater(np.max(np.abs(out)), 0.05)

    def test_instrument_names_map_to_roles(self):
        cases = {"Kick (Tama Superstar 22\")": "kick", "BassDrum": "kick", "Hi Hat Opened": "hatopen",
                 "VariBreaks Hat 1 Pd": "hatpedal", "Closed HH": "hat", "Tom Hi": "tomhi",
                 "Tom Mid": "tommid", "Floor Tom": "tomlo", "Cowbell": "perc", "Ride Bell": "ride",
                 "Snare Rimshot": "snare", "Hand Clap": "clap", "Crash/Ride": "crash", "FX": None}
        for name, role in cases.items():
            with self.subTest(name):
                self.assertEqual(render.classify_instrument(name), role)

    def test_sung_notes_land_on_their_pitch(self):
        frames = int(3.2 * render.RATE)
        voices = {
            "espeak": lambda notes, rng: render.render_espeak_vocal(notes, "en+m1", frames, rng),
            "singer male": lambda notes, rng: singer.sing(notes, frames, rng, False),
            "singer female": lambda notes, rng: singer.sing(notes, frames, rng, True),
            "ensemble": lambda notes, rng: singer.ensemble(notes, frames, rng, True, 3)[:, 0],
        }
        pitches = [48, 55, 60, 64]
        notes = [music.Note(0.1 + 0.7 * i, 0.6, p, 100) for i, p in enumerate(pitches)]
        for name, voice in voices.items():
            with self.subTest(name):
                y = voice(notes, np.random.default_rng(2))
                self.assertTrue(np.all(np.isfinite(y)))
                self.assertAlmostEqual(float(np.max(np.abs(y))), 1.0, places=6)
                for n in notes:
                    s = int((n.start + 0.15) * render.RATE)
                    period = render.estimate_f0(y[s:s + int(0.25 * render.RATE)], render.RATE,
                                                50, 1000)
                    self.assertIsNotNone(period)
                    sung = 69 + 12 * np.log2(render.RATE / period / 440)
                    self.assertLess(abs(sung - n.pitch), 0.75, f"note {n.pitch} sung at {sung:.2f}")

    def test_singer_is_silent_between_notes_and_repeatable(self):
        frames = 2 * render.RATE
        notes = [music.Note(0.2, 0.4, 57, 100), music.Note(1.2, 0.4, 60, 100)]
        y = singer.sing(notes, frames, np.random.default_rng(3), False)
        # After a release and before the next onset's consonant.
        gap = y[int(0.75 * render.RATE):int(1.1 * render.RATE)]
        self.assertEqual(float(np.max(np.abs(gap))), 0.0)
        self.assertTrue(np.array_equal(y, singer.sing(notes, frames, np.random.default_rng(3),
                                                      False)))
        self.assertEqual(float(np.max(np.abs(singer.sing([], frames, np.random.default_rng(3),
                                                          True)))), 0.0)

    def test_singer_vowels_are_shaped_by_their_formants(self):
        # A sung /i/ has its second resonance far above that of /u/.
        freqs = np.arange(1000.0, 4000.0, 10.0)

        def spectrum_centre(vowel):
            table = np.repeat(np.array(singer.VOWELS[vowel], dtype=float)[None], len(freqs), 0)
            gains = singer._tract_gain(freqs, table)
            return float(np.sum(freqs * gains) / np.sum(gains))
        self.assertGreater(spectrum_centre("i"), spectrum_centre("u") + 500)


if __name__ == "__main__":
    unittest.main(verbosity=2)
