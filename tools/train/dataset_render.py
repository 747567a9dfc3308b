"""Sound sources of the synthesised dataset: General MIDI parts through the
fluidsynth program, Hydrogen drum kits from their own samples, sung syllables
from espeak-ng bent onto a melody, and the real CC BY recordings. Every
renderer returns float64 stereo arrays of shape (frames, 2) at RATE.
"""

import os
import re
import subprocess
import tempfile
import xml.etree.ElementTree as ET
from fractions import Fraction

import mido
import numpy as np
import soundfile as sf
from scipy.signal import butter, resample_poly, sosfilt

from dataset_music import Note

RATE = 44100
SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
HYDROGEN_KITS = "/usr/share/hydrogen/data/drumkits"

# General MIDI drum notes for our drum roles.
GM_DRUM_NOTES = {
    "kick": [36, 35], "snare": [38, 40], "clap": [39], "hat": [42], "hatopen": [46],
    "hatpedal": [44], "tomlo": [45, 41], "tommid": [47, 48], "tomhi": [50],
    "crash": [49, 57], "ride": [51, 59], "perc": [54, 56, 60, 61, 63, 69, 70, 75],
}


def pan_gains(pan):
    """Constant-power gains (left, right) for pan in -1..1."""
    a = (pan + 1) * np.pi / 4
    return np.cos(a), np.sin(a)


def fit_length(x, frames):
    if x.ndim == 1:
        x = np.stack([x, x], axis=1)
    if len(x) >= frames:
        return x[:frames]
    return np.concatenate([x, np.zeros((frames - len(x), x.shape[1]))])


def resample(x, src_rate, dst_rate):
    if src_rate == dst_rate:
        return x
    f = Fraction(dst_rate / src_rate).limit_denominator(1000)
    return resample_poly(x, f.numerator, f.denominator, axis=0)


# ---------------------------------------------------------------- fluidsynth


def render_midi(parts, frames, gain=0.5):
    """parts: list of dicts with channel, program, notes, pan (-1..1), volume
    (0..127) and optionally drums=True (channel 9, bank 128 kit `program`).
    Returns (frames, 2)."""
    mid = mido.MidiFile(ticks_per_beat=480)  # 120 BPM default tempo: 960 ticks a second
    track = mido.MidiTrack()
    mid.tracks.append(track)
    events = []
    for part in parts:
        ch = 9 if part.get("drums") else part["channel"]
        events.append((0, 0, mido.Message("control_change", channel=ch, control=7,
                                          value=int(part.get("volume", 100)))))
        pan = int(np.clip(round((part.get("pan", 0.0) + 1) * 63.5), 0, 127))
        events.append((0, 0, mido.Message("control_change", channel=ch, control=10, value=pan)))
        events.append((0, 1, mido.Message("program_change", channel=ch, program=part["program"])))
        for n in part["notes"]:
            on = int(round(n.start * 960))
            off = max(on + 1, int(round((n.start + n.dur) * 960)))
            events.append((on, 3, mido.Message("note_on", channel=ch, note=int(n.pitch),
                                               velocity=int(np.clip(n.vel, 1, 127)))))
            events.append((off, 2, mido.Message("note_off", channel=ch, note=int(n.pitch),
                                                 velocity=0)))
    events.sort(key=lambda e: (e[0], e[1]))
    now = 0
    for tick, _, msg in events:
        track.append(msg.copy(time=tick - now))
        now = tick
    with tempfile.TemporaryDirectory() as tmp:
        mpath = os.path.join(tmp, "part.mid")
        wpath = os.path.join(tmp, "part.wav")
        mid.save(mpath)
        subprocess.run(["fluidsynth", "-ni", "-q", "-R", "0", "-C", "0", "-g", str(gain),
                        "-r", str(RATE), "-F", wpath, SOUNDFONT, mpath],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        x, rate = sf.read(wpath, dtype="float64", always_2d=True)
    return fit_length(resample(x, rate, RATE), frames)


def gm_drum_notes(hits, rng):
    notes = []
    choice = {role: int(rng.choice(v)) for role, v in GM_DRUM_NOTES.items()}
    for h in hits:
        notes.append(Note(h.time, 0.1, choice[h.role], int(np.clip(h.vel * 127, 1, 127))))
    return notes


# ------------------------------------------------------------ Hydrogen kits

ROLE_PATTERNS = [  # first match wins
    ("hatopen", r"open|op\b|hat op|semi"), ("hatpedal", r"pedal|pd\b|foot"),
    ("hat", r"hh|hi-?hat|hat|closed"), ("kick", r"kick|bass ?drum|\bbd\b"),
    ("clap", r"clap|snap"), ("snare", r"snare|rim"), ("tomlo", r"floor|tom low|low tom"),
    ("tomhi", r"tom hi|high tom|tomhi|tom 1\b"), ("tommid", r"tom|middle tom"),
    ("crash", r"crash|china|splash|cymbal"),
    ("perc", r"cowbell|tamb|conga|bongo|cajon|djembe|agogo|clave|wood|maraca|shaker|stick|"
             r"sangban|dununba|kenkeni|drum \d|whistle|glass|click"),
    ("ride", r"ride|bell"),
]


def classify_instrument(name):
    n = name.lower()
    for role, pattern in ROLE_PATTERNS:
        if re.search(pattern, n):
            return role
    return None


def _strip_ns(root):
    for el in root.iter():
        if "}" in el.tag:
            el.tag = el.tag.split("}", 1)[1]
    return root


def load_kit_index(kit):
    """{role: [[(min vel, max vel, gain, path)...] per instrument]} of a kit.
    Reads both the layer layout and the older one with a single <filename>
    per instrument."""
    folder = os.path.join(HYDROGEN_KITS, kit)
    root = _strip_ns(ET.parse(os.path.join(folder, "drumkit.xml")).getroot())
    roles = {}
    for inst in root.iter("instrument"):
        name = inst.findtext("name") or ""
        role = classify_instrument(name)
        if role is None:
            continue
        layers = []
        for layer in inst.iter("layer"):
            fn = layer.findtext("filename")
            if fn:
                layers.append((float(layer.findtext("min") or 0), float(layer.findtext("max") or 1),
                               float(layer.findtext("gain") or 1), os.path.join(folder, fn)))
        direct = inst.find("filename")
        if not layers and direct is not None and direct.text:
            layers.append((0.0, 1.0, 1.0, os.path.join(folder, direct.text)))
        layers = [l for l in layers if os.path.exists(l[3])]
        if layers:
            roles.setdefault(role, []).append(layers)
    return roles


_SAMPLE_CACHE = {}


def load_sample(path):
    x = _SAMPLE_CACHE.get(path)
    if x is None:
        x, rate = sf.read(path, dtype="float64", always_2d=True)
        x = resample(x, rate, RATE)
        if x.shape[1] == 1:
            x = np.repeat(x, 2, axis=1)
        x = x[:, :2]
        peak = np.max(np.abs(x)) if len(x) else 0.0
        if peak > 0:
            x = x / peak
        _SAMPLE_CACHE[path] = x
    return x


def render_kit(kit, hits, frames, rng):
    """Hits through a Hydrogen kit's samples; roles the kit lacks fall back to
    a related role or are left out."""
    index = load_kit_index(kit)
    fallback = {"clap": "snare", "hatpedal": "hat", "hatopen": "hat", "ride": "hat",
                "tommid": "tomlo", "tomhi": "tommid", "tomlo": "tommid", "crash": "ride",
                "perc": "snare"}
    chosen = {}
    for role in GM_DRUM_NOTES:
        r, seen = role, set()
        while r not in index and r in fallback and r not in seen:
            seen.add(r)
            r = fallback[r]
        if r in index:
            chosen[role] = index[r][int(rng.integers(len(index[r])))]
    pans = {role: float(rng.uniform(-0.5, 0.5)) for role in GM_DRUM_NOTES}
    pans["kick"] *= 0.2
    pans["snare"] *= 0.3
    out = np.zeros((frames, 2))
    for h in hits:
        layers = chosen.get(h.role)
        if not layers:
            continue
        fit = [l for l in layers if l[0] <= h.vel <= l[1] + 1e-9] or layers
        lo, hi, gain, path = fit[int(rng.integers(len(fit)))]
        x = load_sample(path)
        start = int(h.time * RATE)
        if start >= frames:
            continue
        n = min(len(x), frames - start)
        gl, gr = pan_gains(pans[h.role])
        g = gain * (0.25 + 0.75 * h.vel)
        out[start:start + n, 0] += x[:n, 0] * g * gl
        out[start:start + n, 1] += x[:n, 1] * g * gr
    return out


# ------------------------------------------------------------ espeak singing

SYLLABLES = ["la", "na", "da", "ma", "ba", "oh", "ah", "yeah", "no", "me", "so", "go", "love",
             "you", "my", "heart", "day", "night", "sky", "fire", "time", "way", "home", "light",
             "dream", "see", "be", "all", "we", "hey", "oo", "shine", "run", "free", "stay"]


def espeak(text, voice, pitch, speed):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "s.wav")
        subprocess.run(["espeak-ng", "-v", voice, "-p", str(int(pitch)), "-s", str(int(speed)),
                        "-w", path, text], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        x, rate = sf.read(path, dtype="float64")
    return x, rate


def estimate_f0(x, rate, lo=60.0, hi=600.0):
    """Period in samples of a voiced stretch (the highest autocorrelation
    peak past the first dip), or None when it is not clearly periodic."""
    lag_lo, lag_hi = int(rate / hi), int(rate / lo)
    n = len(x)
    if n < 3 * lag_hi:
        return None
    # The fundamental alone: formants would give peaks at shorter lags.
    x = sosfilt(butter(4, 400.0, fs=rate, output="sos"), x - np.mean(x))
    spectrum = np.fft.rfft(x, 2 * n)
    ac = np.fft.irfft(spectrum * np.conj(spectrum))[:n]
    if ac[0] <= 0:
        return None
    ac = ac / ac[0]
    below = np.nonzero(ac[:lag_hi] < 0)[0]
    first = max(lag_lo, int(below[0]) if len(below) else lag_lo)
    if first >= lag_hi:
        return None
    best = float(np.max(ac[first:lag_hi]))
    if best <= 0.3:
        return None
    # The shortest lag near the best peak, so that no octave below is taken.
    seg = ac[first:lag_hi]
    peaks = [i for i in range(1, len(seg) - 1)
             if seg[i] >= seg[i - 1] and seg[i] >= seg[i + 1] and seg[i] >= 0.85 * best]
    return first + (peaks[0] if peaks else int(np.argmax(seg)))


def sing_note(x, rate, period, vowel, note, out_len, rng):
    """Reads the syllable x at a rate that turns its pitch into the note's,
    looping the vowel (whole periods) until the note ends. Returns out_len
    samples at RATE."""
    src_f0 = rate / period
    t = np.arange(out_len) / RATE
    f0 = 440.0 * 2 ** ((note.pitch - 69) / 12)
    depth = float(rng.uniform(0.0, 0.35))
    vib = depth * np.sin(2 * np.pi * float(rng.uniform(4.5, 6.5)) * t) * np.clip((t - 0.15) / 0.2, 0, 1)
    ratio = f0 * 2 ** (vib / 12) / src_f0 * (rate / RATE)
    pos = np.cumsum(ratio) - ratio[0]
    v0, v1 = vowel
    loop = max(period, int((v1 - v0) / period) * period)
    over = pos > v1
    pos[over] = v0 + np.mod(pos[over] - v0, loop)
    i = np.clip(pos.astype(np.int64), 0, len(x) - 2)
    frac = pos - i
    y = x[i] * (1 - frac) + x[i + 1] * frac
    env = np.minimum(1.0, np.minimum(t / 0.01, (out_len / RATE - t) / 0.06))
    return y * np.clip(env, 0, 1)


def syllable_entry(text, voice, pitch, speed):
    """(samples, rate, period, vowel span) of one sung syllable, or None."""
    x, rate = espeak(text, voice, pitch, speed)
    env = np.abs(x)
    if len(env) == 0:
        return None
    loud = np.nonzero(env > 0.2 * env.max())[0]
    if len(loud) < 10:
        return None
    a, b = loud[0], loud[-1]
    vowel = (a + int(0.35 * (b - a)), a + int(0.8 * (b - a)))
    period = estimate_f0(x[vowel[0]:vowel[1]], rate)
    return [x, rate, period, vowel]


def render_espeak_vocal(notes, voice, frames, rng):
    out = np.zeros(frames)
    base_pitch = int(rng.integers(40, 86))
    speed = int(rng.integers(90, 160))
    words = [SYLLABLES[int(rng.integers(len(SYLLABLES)))] for _ in notes]
    cache = {w: syllable_entry(w, voice, base_pitch, speed) for w in set(words)}
    cache = {w: e for w, e in cache.items() if e is not None}
    periods = [e[2] for e in cache.values() if e[2]]
    if not periods:
        return out
    # One voice at one base pitch: estimates far from the median are octave
    # or formant errors.
    median = float(np.median(periods))
    for e in cache.values():
        if not e[2] or abs(np.log(e[2] / median)) > 0.25:
            e[2] = median
    for note, word in zip(notes, words):
        entry = cache.get(word)
        if entry is None:
            continue
        x, rate, period, vowel = entry
        start = int(note.start * RATE)
        n = min(int(note.dur * RATE), frames - start)
        if n <= 0:
            continue
        y = sing_note(x, rate, period, vowel, note, n, rng)
        out[start:start + n] += y * (note.vel / 127.0)
    peak = np.max(np.abs(out))
    return out / peak if peak > 0 else out


# ------------------------------------------------------------ real recordings

def classify_recording(name):
    n = name.lower()
    if any(k in n for k in ("sing", "speech", "soprano", "carnatic", "vignesh")):
        return "vocals"
    if any(k in n for k in ("bendir", "mridangam")):
        return "drums"
    return "other"


def list_recordings(folder):
    found = {"vocals": [], "drums": [], "other": []}
    if not folder or not os.path.isdir(folder):
        return found
    for f in sorted(os.listdir(folder)):
        if f.lower().endswith(".wav"):
            found[classify_recording(f)].append(os.path.join(folder, f))
    return found


def transformed_recording(path, frames, song, rng):
    """The recording shifted in pitch and speed together (-4..+4 semitones),
    cut into pieces placed on bar lines, band-limited and levelled."""
    x, rate = sf.read(path, dtype="float64", always_2d=True)
    x = x.mean(axis=1)
    semis = float(rng.uniform(-4, 4))
    x = resample(x, rate * 2 ** (semis / 12), RATE)
    lo = float(rng.uniform(40, 300))
    hi = float(rng.uniform(5000, 16000))
    x = sosfilt(butter(2, [lo, hi], btype="bandpass", fs=RATE, output="sos"), x)
    peak = np.max(np.abs(x))
    if peak <= 0:
        return np.zeros((frames, 2))
    x = x / peak
    out = np.zeros(frames)
    bar = int(song.bar * RATE)
    b = int(rng.integers(0, 2))
    while b * bar < frames:
        if rng.random() < 0.55:
            seg = int(min(len(x), bar * int(rng.choice([1, 2, 4]))))
            off = int(rng.integers(0, max(1, len(x) - seg)))
            piece = x[off:off + seg] * float(10 ** (rng.uniform(-6, 0) / 20))
            fade = min(len(piece) // 2, 441)
            if fade > 0:
                ramp = np.linspace(0, 1, fade)
                piece[:fade] *= ramp
                piece[-fade:] *= ramp[::-1]
            start = b * bar
            n = min(len(piece), frames - start)
            out[start:start + n] += piece[:n]
        b += int(rng.choice([1, 2, 4]))
    gl, gr = pan_gains(float(rng.uniform(-0.6, 0.6)))
    return np.stack([out * gl, out * gr], axis=1)
