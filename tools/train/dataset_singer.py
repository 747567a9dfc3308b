"""A sung voice built from its parts: a glottal source of harmonics on the
melody's pitch (vibrato, drift, glides between notes), shaped by the
resonances of a vocal tract singing vowels, with breath and consonant noise.
Sung alone or as a small ensemble of such voices. Mono, at RATE."""

import dataclasses

import numpy as np
from scipy.signal import butter, sosfilt

from dataset_render import RATE

# Formant frequencies and bandwidths (Hz) of an adult male tract, after the
# classic vowel measurements; other tracts scale the frequencies.
VOWELS = {
    "a": [(730, 90), (1090, 110), (2440, 140), (3400, 200), (4200, 250)],
    "e": [(530, 70), (1840, 100), (2480, 140), (3400, 200), (4200, 250)],
    "i": [(300, 60), (2250, 100), (3000, 150), (3600, 200), (4300, 250)],
    "o": [(570, 80), (840, 90), (2410, 140), (3400, 200), (4200, 250)],
    "u": [(320, 60), (870, 90), (2240, 140), (3400, 200), (4200, 250)],
    "ae": [(660, 80), (1720, 100), (2410, 140), (3400, 200), (4200, 250)],
    "er": [(490, 70), (1350, 100), (1690, 130), (3300, 200), (4200, 250)],
}
_NAMES = sorted(VOWELS)
_BLOCK = 256  # samples per update of the harmonic amplitudes


def _tract_gain(freqs, formants):
    """Cascade of second-order resonances, unit gain at 0 Hz.
    freqs: (blocks,) Hz, formants: (blocks, formants, 2) of (F, B) Hz
    -> (blocks,) linear gain."""
    g = np.ones_like(freqs)
    for i in range(formants.shape[1]):
        f, b = formants[:, i, 0], formants[:, i, 1]
        g *= f * f / np.sqrt((f * f - freqs * freqs) ** 2 + (freqs * b) ** 2)
    return g


def _pitch_track(notes, frames, rng):
    """f0 (Hz) per sample and a voicing envelope (0..1) per sample: vibrato
    after each onset, slow drift, glides from the previous note."""
    f0 = np.zeros(frames)
    env = np.zeros(frames)
    vib_rate = float(rng.uniform(4.5, 6.5))
    vib_depth = float(rng.uniform(0.05, 0.5))  # semitones
    glide = float(rng.uniform(0.02, 0.08))  # s
    attack, release = float(rng.uniform(0.015, 0.06)), float(rng.uniform(0.04, 0.12))
    previous = None
    for note in notes:
        start = int(note.start * RATE)
        n = min(int(note.dur * RATE), frames - start)
        if n <= 0:
            continue
        t = np.arange(n) / RATE
        pitch = np.full(n, float(note.pitch))
        if previous is not None and abs(previous - note.pitch) < 12:
            pitch += (previous - note.pitch) * np.exp(-t / glide)
        onset = np.clip((t - 0.12) / 0.25, 0, 1)
        pitch += vib_depth * onset * np.sin(2 * np.pi * vib_rate * t + float(rng.uniform(0, 6.3)))
        pitch += float(rng.normal(0, 0.08))  # intonation
        f0[start:start + n] = 440.0 * 2 ** ((pitch - 69) / 12)
        e = np.minimum(1.0, np.minimum(t / attack, (n / RATE - t) / release))
        env[start:start + n] = np.maximum(env[start:start + n],
                                          np.clip(e, 0, 1) * note.vel / 127.0)
        previous = note.pitch
    # Silence between notes keeps the last pitch so that the phase runs on.
    voiced = f0 > 0
    if np.any(voiced):
        held = np.maximum.accumulate(np.where(voiced, np.arange(frames), 0))
        f0 = np.where(voiced, f0, f0[held])
        f0[f0 == 0] = f0[np.argmax(voiced)]
    else:
        f0[:] = 110.0
    f0 *= 2 ** (np.cumsum(rng.normal(0, 0.002, frames)) / 12 / 30)  # slow drift
    return f0, env


def _formant_track(notes, frames, tract, rng):
    """Formants per block: each note sings a vowel, reached from the previous
    one within its first tens of milliseconds. -> (blocks, formants, 2)."""
    blocks = frames // _BLOCK + 1
    jitter = rng.uniform(0.93, 1.07, 5)  # this singer's own tract
    current = np.array(VOWELS[_NAMES[int(rng.integers(len(_NAMES)))]], dtype=float)
    table = np.repeat(current[None], blocks, axis=0)
    # Each blend runs to the end; the next note's takes over from its onset.
    for note in notes:
        target = np.array(VOWELS[_NAMES[int(rng.integers(len(_NAMES)))]], dtype=float)
        target[:, 0] *= tract * jitter
        k1 = min(blocks, int(note.start * RATE) // _BLOCK)
        reach = max(1, int(float(rng.uniform(0.03, 0.1)) * RATE / _BLOCK))
        w = np.clip(np.arange(blocks - k1) / reach, 0, 1)[:, None, None]
        table[k1:] = current * (1 - w) + target * w
        current = target
    return table


def sing(notes, frames, rng, female):
    """One voice singing the notes: (frames,) float, peak 1 (or silence)."""
    f0, env = _pitch_track(notes, frames, rng)
    tract = float(rng.uniform(1.1, 1.25) if female else rng.uniform(0.92, 1.05))
    formants = _formant_track(notes, frames, tract, rng)
    tilt = float(rng.uniform(0.5, 1.4))  # source roll-off (amplitude ~ 1/k^tilt)
    phase = 2 * np.pi * np.cumsum(f0) / RATE
    blocks = len(formants)
    centres = np.minimum(np.arange(blocks) * _BLOCK, frames - 1)
    block_f0 = f0[centres]
    out = np.zeros(frames)
    shimmer = np.exp(np.convolve(rng.normal(0, 0.15, blocks), np.ones(4) / 4, "same"))
    top = min(80, int(11000.0 / max(60.0, float(np.min(f0)))))
    for k in range(1, top + 1):
        freq = k * block_f0
        gain = _tract_gain(freq, formants) * shimmer / k ** tilt * (freq < 11000.0)
        if not np.any(gain > 1e-4):
            continue
        amp = np.interp(np.arange(frames), centres, gain)
        out += amp * np.sin(k * phase)
    # Breath: noise coloured by the mean tract, loudest in the upper formants.
    breath = sosfilt(butter(2, [1500.0, 9000.0], btype="band", fs=RATE, output="sos"),
                     rng.normal(0, 1, frames))
    out = out * env + breath * env * float(rng.uniform(0.003, 0.03)) * np.max(np.abs(out) + 1e-9)
    # Consonants: short noise bursts before some onsets.
    hiss = butter(2, float(rng.uniform(2500, 6000)), btype="high", fs=RATE, output="sos")
    for note in notes:
        if rng.random() < 0.4:
            n = int(float(rng.uniform(0.02, 0.07)) * RATE)
            start = int(note.start * RATE) - n // 2
            if start < 0 or start + n > frames:
                continue
            burst = sosfilt(hiss, rng.normal(0, 1, n)) * np.hanning(n)
            out[start:start + n] += burst * float(rng.uniform(0.02, 0.15)) * np.max(np.abs(out))
    peak = np.max(np.abs(out))
    return out / peak if peak > 0 else out


def ensemble(notes, frames, rng, female, voices):
    """Several voices on the same notes, each with its own tract, vibrato and
    timing, panned apart: (frames, 2), peak 1 (or silence)."""
    out = np.zeros((frames, 2))
    for _ in range(voices):
        shift = float(rng.uniform(-0.02, 0.02))
        moved = [dataclasses.replace(n, start=max(0.0, n.start + shift)) for n in notes]
        mono = sing(moved, frames, rng, female)
        pan = float(rng.uniform(-0.6, 0.6)) if voices > 1 else float(rng.uniform(-0.15, 0.15))
        out[:, 0] += mono * np.sqrt(0.5 * (1 - pan))
        out[:, 1] += mono * np.sqrt(0.5 * (1 + pan))
    peak = np.max(np.abs(out))
    return out / peak if peak > 0 else out
