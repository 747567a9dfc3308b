"""Mixing of the synthesised stems: reverb, compression and the final bus,
done so that the mixture stays the exact sum of the four stems."""

import numpy as np
from scipy.signal import butter, fftconvolve, lfilter, sosfilt

from dataset_render import RATE


def room_response(rng, seconds):
    """A stereo reverb impulse response: decorrelated noise under an
    exponential decay, darker as it decays, after a short pre-delay."""
    rt60 = float(rng.uniform(0.3, seconds))
    n = int(RATE * min(rt60 * 1.2, 3.0))
    t = np.arange(n) / RATE
    decay = 10 ** (-3 * t / rt60)
    ir = rng.standard_normal((n, 2)) * decay[:, None]
    cutoff = float(rng.uniform(3000, 9000))
    ir = sosfilt(butter(1, cutoff, fs=RATE, output="sos"), ir, axis=0)
    pre = int(RATE * float(rng.uniform(0.005, 0.04)))
    ir = np.concatenate([np.zeros((pre, 2)), ir])
    return ir / np.sqrt(np.sum(ir ** 2) / 2)


def add_reverb(x, ir, send):
    if send <= 0:
        return x
    wet = np.stack([fftconvolve(x[:, c], ir[:, c])[: len(x)] for c in range(2)], axis=1)
    return x + send * wet


def envelope(x, ms):
    """Smoothed power of a stereo signal (one-pole, time constant ms)."""
    a = np.exp(-1.0 / (RATE * ms / 1000.0))
    p = np.mean(x ** 2, axis=1)
    return lfilter([1 - a], [1, -a], p)


def compressor_gain(power, threshold_db, ratio, ms=40.0):
    """Gain per sample that reduces the level above threshold by ratio."""
    level_db = 10 * np.log10(np.maximum(power, 1e-12))
    over = np.maximum(0.0, level_db - threshold_db)
    gain_db = -over * (1 - 1 / ratio)
    a = np.exp(-1.0 / (RATE * ms / 1000.0))
    gain_db = lfilter([1 - a], [1, -a], gain_db)
    return 10 ** (gain_db / 20)


def compress(x, rng):
    power = envelope(x, 15.0)
    active = power[power > 1e-8]
    if len(active) == 0:
        return x
    threshold = 10 * np.log10(np.percentile(active, float(rng.uniform(50, 85))))
    return x * compressor_gain(power, threshold, float(rng.uniform(1.5, 4.0)))[:, None]


def bus(stems, rng):
    """Linked bus compression: one gain curve from the sum applied to every
    stem, so that the mixture is still their sum."""
    mix = sum(stems.values())
    power = envelope(mix, 10.0)
    active = power[power > 1e-8]
    if len(active) == 0:
        return stems
    threshold = 10 * np.log10(np.percentile(active, float(rng.uniform(70, 95))))
    g = compressor_gain(power, threshold, float(rng.uniform(1.2, 3.0)), ms=25.0)[:, None]
    return {k: v * g for k, v in stems.items()}


def normalise(stems, rng):
    """Scales all stems together so that the mixture peaks at a random level
    between -20 and -0.5 dBFS (the model input must meet many levels)."""
    mix = sum(stems.values())
    peak = max(np.max(np.abs(mix)), max(np.max(np.abs(v)) for v in stems.values()))
    if peak <= 0:
        return stems
    target = 10 ** (float(rng.uniform(-20, -0.5)) / 20)
    return {k: v * (target / peak) for k, v in stems.items()}
