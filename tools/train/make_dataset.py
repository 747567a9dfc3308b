#!/usr/bin/python3
"""Synthesises the multitrack dataset the mask models are trained on.

Songs of 20 to 40 s at 44100 Hz stereo, each with its four stems (vocals,
bass, drums, other) and their sum, the mixture. Instruments, drum kits and
voices of the train and test splits are disjoint; every song is fixed by the
base seed, its split and its number. Layout, per split:

    <out>/<split>/Tracks.txt                      one track name per line
    <out>/<split>/Mixtures/<track>/mixture.wav
    <out>/<split>/Sources/<track>/vocals.wav, bass.wav, drums.wav, other.wav

Samples are 16-bit PCM. The training split also uses the real CC BY
recordings of shared/data/recordings-cc-by, transformed.
"""

import argparse
import os
import sys
import time
from multiprocessing import Pool

os.environ.setdefault("OMP_NUM_THREADS", "1")
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import numpy as np  # noqa: E402
import soundfile as sf  # noqa: E402

import dataset_mix as mixing  # noqa: E402
import dataset_music as music  # noqa: E402
import dataset_render as render  # noqa: E402
import dataset_singer as singer  # noqa: E402

STEMS = ["vocals", "bass", "drums", "other"]
SPLITS = {"train": 0, "test": 1}
DEFAULT_RECORDINGS = os.path.normpath(os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "data",
    "recordings-cc-by"))
CREDIT = ("Some training material: recordings by X. Serra / MTG, freesound.org pack 13038, "
          "CC BY 4.0; transformed (pitch, time, level, mixing).")


def _test_program(p):
    return p % 4 == 1


# General MIDI programs for "other": every family; basses and vocal-like programs left out.
_OTHER = [p for p in range(112) if p not in (43, 52, 53, 54, 85, 91) and not 32 <= p <= 39]

# What each split may use. Nothing appears in both.
INSTRUMENTS = {
    "train": {
        "bass": [32, 33, 35, 36, 38, 43],
        "other": [p for p in _OTHER if not _test_program(p)],
        "voice_programs": [52, 85, 91],
        "gm_kits": [0, 16, 24, 32, 48],
        "kits": ["Audiophob", "BJA_Pacific", "ColomboAcousticDrumkit", "ElectricEmpireKit",
                 "ForzeeStereo", "Millo-Drums_v.1", "Millo_MultiLayered2", "VariBreaks",
                 "rumpf_kit_z01_h2"],
        "perc_kits": ["Gimme A Hand 1.0", "circAfrique v4"],
        "languages": ["en", "es", "it", "de", "id", "sw", "fi"],
        "male": ["m1", "m2", "m3", "m4", "Mike", "Andy", "paul", "robert"],
        "female": ["f1", "f2", "f3", "Annie", "belinda"],
        "recordings": True,
        # Lead vocals: the source is the first whose bound exceeds one draw.
        "vocal_sources": [("recording", 0.2), ("espeak", 0.5), ("singer", 0.75), ("gm", 1.0)],
    },
    "test": {
        "bass": [34, 37, 39],
        "other": [p for p in _OTHER if _test_program(p)],
        "voice_programs": [53, 54],
        "gm_kits": [8, 25, 40],
        "kits": ["The Black Pearl 1.0", "HardElectro1", "Millo_MultiLayered3"],
        "perc_kits": [],
        "languages": ["pt", "nl", "pl"],
        "male": ["m5", "m6", "m7", "david"],
        "female": ["f4", "f5", "linda"],
        "recordings": False,
        "vocal_sources": [("espeak", 0.75), ("gm", 1.0)],
    },
}


def pick(rng, items):
    return items[int(rng.integers(len(items)))]


def vocal_stem(song, rng, inst, frames, recordings):
    female = rng.random() < 0.5
    low, high = (57, 74) if female else (45, 64)
    notes = music.vocal_melody(song, rng, low, high)
    draw = rng.random()
    source = next(name for name, bound in inst["vocal_sources"] if draw < bound)
    real = recordings.get("vocals") if inst["recordings"] else []
    if source == "recording" and not real:
        source = "espeak"
    if source == "recording":
        lead = sum(render.transformed_recording(pick(rng, real), frames, song, rng)
                   for _ in range(int(rng.integers(1, 3))))
    elif source == "espeak":
        voice = pick(rng, inst["languages"]) + "+" + pick(rng, inst["female" if female else "male"])
        mono = render.render_espeak_vocal(notes, voice, frames, rng)
        gl, gr = render.pan_gains(float(rng.uniform(-0.15, 0.15)))
        lead = np.stack([mono * gl, mono * gr], axis=1)
    elif source == "singer":
        voices = 1 if rng.random() < 0.6 else int(rng.integers(2, 5))
        lead = singer.ensemble(notes, frames, rng, female, voices)
    else:
        lead = render.render_midi([{"channel": 0, "program": pick(rng, inst["voice_programs"]),
                                    "notes": notes, "pan": float(rng.uniform(-0.2, 0.2))}],
                                  frames)
    stem = lead / max(1e-9, np.max(np.abs(lead)))
    if rng.random() < 0.3 and notes:  # backing harmony a third or a sixth above
        shift = int(rng.choice([3, 4, 8, 9]))
        harmony = [music.Note(n.start, n.dur, n.pitch + shift, int(n.vel * 0.8)) for n in notes]
        back = render.render_midi([{"channel": 0, "program": pick(rng, inst["voice_programs"]),
                                    "notes": harmony, "pan": float(rng.uniform(-0.7, 0.7))}],
                                  frames)
        stem = stem + back / max(1e-9, np.max(np.abs(back))) * float(rng.uniform(0.2, 0.5))
    return stem


def drum_stem(song, rng, inst, frames, recordings):
    hits = music.drum_pattern(song, rng)
    if rng.random() < 0.6:
        stem = render.render_kit(pick(rng, inst["kits"]), hits, frames, rng)
    else:
        notes = render.gm_drum_notes(hits, rng)
        stem = render.render_midi([{"drums": True, "program": pick(rng, inst["gm_kits"]),
                                    "notes": notes, "pan": 0.0}], frames)
    stem = stem / max(1e-9, np.max(np.abs(stem)))
    if inst["perc_kits"] and rng.random() < 0.25:
        extra = [music.DrumHit(h.time, "perc", h.vel) for h in music.drum_pattern(song, rng)
                 if h.role in ("hat", "snare")]
        perc = render.render_kit(pick(rng, inst["perc_kits"]), extra, frames, rng)
        stem = stem + perc / max(1e-9, np.max(np.abs(perc))) * float(rng.uniform(0.2, 0.6))
    real = recordings.get("drums") if inst["recordings"] else []
    if real and rng.random() < 0.2:
        stem = stem + render.transformed_recording(pick(rng, real), frames, song, rng) * 0.5
    return stem


def other_stem(song, rng, inst, frames, recordings):
    kinds = list(rng.choice(["pad", "comp", "arp", "lead"], size=int(rng.integers(1, 4)),
                            replace=False))
    parts = []
    for ch, kind in enumerate(kinds):
        parts.append({"channel": ch, "program": pick(rng, inst["other"]),
                      "notes": music.chord_part(song, rng, kind),
                      "pan": float(rng.uniform(-0.8, 0.8)),
                      "volume": int(rng.integers(70, 120))})
    stem = render.render_midi(parts, frames)
    stem = stem / max(1e-9, np.max(np.abs(stem)))
    real = recordings.get("other") if inst["recordings"] else []
    if real and rng.random() < 0.35:
        stem = stem + render.transformed_recording(pick(rng, real), frames, song, rng) * \
            float(rng.uniform(0.3, 0.8))
    return stem


def bass_stem(song, rng, inst, frames):
    notes = music.bass_line(song, rng)
    stem = render.render_midi([{"channel": 0, "program": pick(rng, inst["bass"]), "notes": notes,
                                "pan": float(rng.uniform(-0.1, 0.1))}], frames)
    return stem / max(1e-9, np.max(np.abs(stem)))


def make_song(split, index, seed, duration, recordings):
    """The four stems of one song, shape (frames, 2) each, mixed."""
    rng = np.random.default_rng([seed, SPLITS[split], index])
    inst = INSTRUMENTS[split]
    song = music.plan_song(rng, seed, duration)
    frames = int(duration * render.RATE)
    stems = {
        "vocals": vocal_stem(song, rng, inst, frames, recordings) if rng.random() < 0.9
        else np.zeros((frames, 2)),
        "bass": bass_stem(song, rng, inst, frames),
        "drums": drum_stem(song, rng, inst, frames, recordings) if rng.random() < 0.95
        else np.zeros((frames, 2)),
        "other": other_stem(song, rng, inst, frames, recordings),
    }
    levels_db = {"vocals": (-3, 3), "bass": (-8, 0), "drums": (-5, 2), "other": (-8, 1)}
    ir = mixing.room_response(rng, 2.5)
    sends = {"vocals": (0.05, 0.4), "bass": (0.0, 0.05), "drums": (0.0, 0.25), "other": (0.05, 0.5)}
    for k in STEMS:
        x = stems[k]
        if rng.random() < 0.7:
            x = mixing.compress(x, rng)
        x = mixing.add_reverb(x, ir, float(rng.uniform(*sends[k])))
        stems[k] = x * 10 ** (float(rng.uniform(*levels_db[k])) / 20)
    if rng.random() < 0.5:
        stems = mixing.bus(stems, rng)
    # Fade in and out over 20 ms so that no song starts or ends on a click.
    ramp = np.minimum(1.0, np.minimum(np.arange(frames), np.arange(frames)[::-1]) / 882.0)
    stems = {k: v * ramp[:, None] for k, v in stems.items()}
    return mixing.normalise(stems, rng)


def track_name(index):
    return "song-%04d" % index


def song_written(out, split, name):
    """Whether a song's five files are all there (the mixture is written last,
    under another name and then renamed)."""
    return all(os.path.isfile(p) for p in
               [os.path.join(out, split, "Mixtures", name, "mixture.wav")]
               + [os.path.join(out, split, "Sources", name, k + ".wav") for k in STEMS])


def write_song(job):
    out, split, index, seed, duration, recordings, keep = job
    name = track_name(index)
    started = time.time()
    mix_dir = os.path.join(out, split, "Mixtures", name)
    src_dir = os.path.join(out, split, "Sources", name)
    if keep and song_written(out, split, name):
        return split, name, duration, 0.0
    stems = make_song(split, index, seed, duration, recordings)
    os.makedirs(mix_dir, exist_ok=True)
    os.makedirs(src_dir, exist_ok=True)
    for k in STEMS:
        sf.write(os.path.join(src_dir, k + ".wav"), stems[k], render.RATE, subtype="PCM_16")
    mixture = os.path.join(mix_dir, "mixture.wav")
    sf.write(mixture + ".part", sum(stems[k] for k in STEMS), render.RATE, format="WAV",
             subtype="PCM_16")
    os.replace(mixture + ".part", mixture)
    return split, name, duration, time.time() - started


def song_duration(seed, split, index, lo, hi):
    return float(np.random.default_rng([seed, SPLITS[split], index, 7]).uniform(lo, hi))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("out", nargs="?", default="data/dataset", help="dataset folder")
    ap.add_argument("--train", type=int, default=300, help="training songs")
    ap.add_argument("--test", type=int, default=40, help="test songs")
    ap.add_argument("--seed", type=int, default=20240611)
    ap.add_argument("--jobs", type=int, default=min(8, os.cpu_count() or 1))
    ap.add_argument("--min-seconds", type=float, default=20.0)
    ap.add_argument("--max-seconds", type=float, default=40.0)
    ap.add_argument("--train-seconds", type=float, nargs=2, metavar=("MIN", "MAX"),
                    help="duration range of the training songs (default: the range above); "
                         "shorter songs give more songs for the same amount of training data")
    ap.add_argument("--recordings", default=DEFAULT_RECORDINGS,
                    help="folder of the CC BY recordings (training split only)")
    ap.add_argument("--keep", action="store_true",
                    help="songs whose five files exist are kept, not synthesised again "
                         "(a song depends only on the seed, its split and its number)")
    ap.add_argument("--smoke", action="store_true",
                    help="two short songs (one per split) for a quick check of the road")
    args = ap.parse_args(argv)
    if args.smoke:
        args.train, args.test, args.min_seconds, args.max_seconds = 1, 1, 6.0, 6.0
        args.train_seconds = None
    ranges = {"test": (args.min_seconds, args.max_seconds),
              "train": tuple(args.train_seconds or (args.min_seconds, args.max_seconds))}
    if args.train < 0 or args.test < 0 or args.jobs < 1 \
            or any(lo <= 0 or hi < lo for lo, hi in ranges.values()):
        ap.error("song counts must be >= 0, jobs >= 1 and each duration range (min-seconds and "
                 "max-seconds, train-seconds MIN MAX) must hold 0 < MIN <= MAX")

    recordings = render.list_recordings(args.recordings)
    if args.train and not any(recordings.values()):
        print("make_dataset: no recordings in %s; training songs use synthesis only"
              % args.recordings, file=sys.stderr)
    jobs = []
    for split, count in (("train", args.train), ("test", args.test)):
        for i in range(count):
            d = song_duration(args.seed, split, i, *ranges[split])
            jobs.append((args.out, split, i, args.seed, d, recordings, args.keep))

    started = time.time()
    done = {s: [] for s in SPLITS}
    audio = 0.0
    with Pool(args.jobs) as pool:
        for split, name, duration, took in pool.imap_unordered(write_song, jobs):
            done[split].append(name)
            audio += duration
            print("%s/%s  %.1f s of audio in %.1f s" % (split, name, duration, took), flush=True)
    for split, names in done.items():
        if not names:
            continue
        with open(os.path.join(args.out, split, "Tracks.txt"), "w") as f:
            f.writelines(n + "\n" for n in sorted(names))
    with open(os.path.join(args.out, "README.txt"), "w") as f:
        f.write("Synthesised by tools/train/make_dataset.py --train %d --test %d --seed %d "
                "--min-seconds %g --max-seconds %g --train-seconds %g %g\n%s\n"
                % (args.train, args.test, args.seed, args.min_seconds, args.max_seconds,
                   ranges["train"][0], ranges["train"][1], CREDIT))
    wall = time.time() - started
    print("make_dataset: %d songs, %.1f min of audio in %.1f s (%d jobs)"
          % (len(jobs), audio / 60, wall, args.jobs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
