"""Song plans for the synthesised dataset: tempo, key, chords and the notes of
every part. Everything here is a pure function of a numpy Generator, so a song
is fully determined by its seed. Times are in seconds, pitches MIDI numbers.
"""

from dataclasses import dataclass, field

import numpy as np

MAJOR = [0, 2, 4, 5, 7, 9, 11]
MINOR = [0, 2, 3, 5, 7, 8, 10]

# Scale-degree progressions (0 = tonic), one chord per bar or half bar.
PROGRESSIONS_MAJOR = [
    [0, 4, 5, 3], [0, 5, 3, 4], [5, 3, 0, 4], [0, 3, 4, 3], [1, 4, 0, 0],
    [0, 3, 0, 4], [0, 2, 3, 4], [3, 4, 2, 5], [0, 4, 3, 3],
]
PROGRESSIONS_MINOR = [
    [0, 5, 2, 6], [0, 3, 4, 0], [0, 6, 5, 6], [0, 3, 6, 2], [0, 5, 3, 4],
    [0, 0, 3, 4], [5, 6, 0, 0],
]


@dataclass
class Note:
    start: float
    dur: float
    pitch: int
    vel: int  # 1..127


@dataclass
class DrumHit:
    time: float
    role: str  # kick, snare, clap, hat, hatopen, hatpedal, tomlo, tommid, tomhi, crash, ride, perc
    vel: float  # 0..1


@dataclass
class Song:
    seed: int
    duration: float
    tempo: float
    root: int  # pitch class of the key
    minor: bool
    bars: int
    chords: list  # per bar: list of (start, dur, [pitch classes, root first])
    sections: list = field(default_factory=list)  # bar index where a section starts

    @property
    def beat(self):
        return 60.0 / self.tempo

    @property
    def bar(self):
        return 4.0 * self.beat

    def scale(self):
        return MINOR if self.minor else MAJOR


def plan_song(rng, seed, duration):
    tempo = float(rng.uniform(80, 160))
    minor = bool(rng.random() < 0.45)
    root = int(rng.integers(0, 12))
    bar = 4 * 60.0 / tempo
    bars = int(np.ceil(duration / bar)) + 1
    song = Song(seed, duration, tempo, root, minor, bars, [])
    progs = PROGRESSIONS_MINOR if minor else PROGRESSIONS_MAJOR
    scale = song.scale()
    # Sections of 4 or 8 bars, each with its own progression.
    b = 0
    while b < bars:
        song.sections.append(b)
        prog = progs[int(rng.integers(len(progs)))]
        halves = rng.random() < 0.25
        length = int(rng.choice([4, 8]))
        for i in range(length):
            if b + i >= bars:
                break
            start = (b + i) * bar
            if halves:
                d0 = prog[(2 * i) % len(prog)]
                d1 = prog[(2 * i + 1) % len(prog)]
                song.chords.append([(start, bar / 2, triad(root, scale, d0, rng)),
                                    (start + bar / 2, bar / 2, triad(root, scale, d1, rng))])
            else:
                d = prog[i % len(prog)]
                song.chords.append([(start, bar, triad(root, scale, d, rng))])
        b += length
    return song


def triad(root, scale, degree, rng):
    tones = [(root + scale[(degree + k) % 7]) % 12 for k in (0, 2, 4)]
    if rng.random() < 0.3:
        tones.append((root + scale[(degree + 6) % 7]) % 12)  # seventh
    return tones


def chord_at(song, t):
    bar = min(int(t / song.bar), song.bars - 1)
    for start, dur, tones in song.chords[bar]:
        if start <= t < start + dur + 1e-9:
            return tones
    return song.chords[bar][-1][2]


def nearest_pitch(pc, around):
    """The pitch of pitch class pc closest to `around`."""
    base = around - ((around - pc) % 12)
    return base if around - base <= 6 else base + 12


def humanise(rng, t, amount=0.006):
    return max(0.0, t + float(rng.normal(0, amount)))


def bass_line(song, rng):
    style = rng.choice(["whole", "quarter", "eighth", "rootfifth", "syncopated", "walking"])
    low = int(rng.integers(31, 40))
    notes = []
    beat = song.beat
    for bar in range(song.bars):
        for start, dur, tones in song.chords[bar]:
            rootp = nearest_pitch(tones[0], low + 6)
            fifth = rootp + 7
            if style == "whole":
                hits = [(0.0, dur * 0.95, rootp)]
            elif style == "quarter":
                hits = [(k * beat, beat * 0.8, rootp) for k in range(int(round(dur / beat)))]
            elif style == "eighth":
                hits = [(k * beat / 2, beat * 0.4, rootp) for k in range(int(round(2 * dur / beat)))]
            elif style == "rootfifth":
                hits = [(k * beat, beat * 0.7, rootp if k % 2 == 0 else fifth)
                        for k in range(int(round(dur / beat)))]
            elif style == "syncopated":
                pattern = [0.0, 1.5, 2.0, 3.5] if dur > 2.5 * beat else [0.0, 1.5]
                hits = [(p * beat, beat * 0.45, rootp if i != 2 else rootp + 12)
                        for i, p in enumerate(pattern) if p * beat < dur]
            else:  # walking: chord tones and passing steps
                hits = []
                for k in range(int(round(dur / beat))):
                    pc = tones[int(rng.integers(len(tones)))] if k else tones[0]
                    hits.append((k * beat, beat * 0.85, nearest_pitch(pc, low + 7)))
            for off, d, p in hits:
                vel = int(np.clip(rng.normal(96, 12), 40, 127))
                notes.append(Note(humanise(rng, start + off), d, int(p), vel))
    return notes


def chord_part(song, rng, kind):
    """Notes of one accompaniment part: pad, comp, arp or lead."""
    notes = []
    beat = song.beat
    centre = int(rng.integers(55, 72))
    patterns = [[0, 1, 2, 3], [0, 1.5, 2.5], [0.5, 1.5, 2.5, 3.5], [0, 2], [0, 0.75, 2, 2.75]]
    comp_pattern = patterns[int(rng.integers(len(patterns)))]
    arp_step = beat / float(rng.choice([2, 3, 4]))
    lead_rest = 0.0
    for bar in range(song.bars):
        for start, dur, tones in song.chords[bar]:
            voicing = sorted(nearest_pitch(pc, centre) for pc in tones)
            if kind == "pad":
                for p in voicing:
                    notes.append(Note(start, dur * 0.98, p, int(rng.integers(60, 95))))
            elif kind == "comp":
                for off in comp_pattern:
                    if off * beat >= dur:
                        continue
                    t = humanise(rng, start + off * beat)
                    for p in voicing:
                        notes.append(Note(t, beat * float(rng.uniform(0.3, 0.9)), p,
                                          int(rng.integers(55, 110))))
            elif kind == "arp":
                seq = voicing + [voicing[0] + 12]
                up = rng.random() < 0.5
                k = 0
                t = 0.0
                while t < dur - 1e-6:
                    p = seq[k % len(seq)] if up else seq[-1 - (k % len(seq))]
                    notes.append(Note(humanise(rng, start + t, 0.003), arp_step * 0.9, p,
                                      int(rng.integers(60, 110))))
                    k += 1
                    t += arp_step
            else:  # lead: a scale melody over the chord
                t = 0.0
                while t < dur - 1e-6:
                    if lead_rest > 0:
                        t += lead_rest
                        lead_rest = 0.0
                        continue
                    d = beat * float(rng.choice([0.5, 0.5, 1, 1, 1.5, 2]))
                    pc = (tones[int(rng.integers(len(tones)))] if rng.random() < 0.6 else
                          (song.root + song.scale()[int(rng.integers(7))]) % 12)
                    notes.append(Note(humanise(rng, start + t), min(d, dur - t) * 0.9,
                                      nearest_pitch(pc, centre + 7), int(rng.integers(70, 115))))
                    t += d
                    if rng.random() < 0.15:
                        lead_rest = beat * float(rng.choice([1, 2]))
    return notes


def vocal_melody(song, rng, low, high):
    """A sung line in phrases of one or two bars with rests between them.
    Returns notes; each note carries one syllable."""
    notes = []
    beat = song.beat
    centre = (low + high) // 2
    prev = centre
    bar = 0
    while bar < song.bars:
        sing = rng.random() < 0.7
        length = int(rng.choice([1, 2, 2, 4]))
        if sing:
            t = bar * song.bar + beat * float(rng.choice([0, 0, 0.5, 1]))
            end = (bar + length) * song.bar - beat * float(rng.choice([0.5, 1]))
            while t < end - beat * 0.25:
                d = beat * float(rng.choice([0.5, 0.5, 1, 1, 1, 1.5, 2, 3]))
                d = min(d, end - t)
                tones = chord_at(song, t)
                if rng.random() < 0.65:
                    pc = tones[int(rng.integers(len(tones)))]
                else:
                    pc = (song.root + song.scale()[int(rng.integers(7))]) % 12
                p = int(np.clip(nearest_pitch(pc, prev + int(rng.integers(-4, 5))), low, high))
                notes.append(Note(humanise(rng, t, 0.01), d * float(rng.uniform(0.8, 0.98)), p,
                                  int(rng.integers(70, 120))))
                prev = p
                t += d
        bar += length
    return notes


# 16 steps per bar: (kick steps, snare steps, hat steps, open-hat steps)
GROOVES = {
    "rock": ([0, 8, 10], [4, 12], list(range(0, 16, 2)), []),
    "four": ([0, 4, 8, 12], [4, 12], [2, 6, 10, 14], [2, 6, 10, 14]),
    "halftime": ([0, 7, 10], [8], list(range(0, 16, 2)), [14]),
    "funk": ([0, 3, 6, 10, 11], [4, 12], list(range(16)), [7]),
    "pop": ([0, 6, 8], [4, 12], list(range(0, 16, 2)), [15]),
    "shuffle": ([0, 9], [4, 12], [0, 3, 4, 7, 8, 11, 12, 15], []),
    "sparse": ([0], [8], [0, 4, 8, 12], []),
}


def drum_pattern(song, rng):
    style = str(rng.choice(list(GROOVES)))
    kick, snare, hat, openhat = GROOVES[style]
    clap = rng.random() < 0.3
    ride = rng.random() < 0.25
    perc = rng.random() < 0.35
    hits = []
    step = song.bar / 16
    sections = set(song.sections)
    for bar in range(song.bars):
        t0 = bar * song.bar
        fill = (bar + 1) in sections and rng.random() < 0.7
        if bar in sections:
            hits.append(DrumHit(t0, "crash", float(rng.uniform(0.7, 1.0))))
        for s in range(16):
            t = humanise(rng, t0 + s * step, 0.004)
            if fill and s >= 8:
                if s % 2 == 0 or rng.random() < 0.5:
                    hits.append(DrumHit(t, str(rng.choice(["tomhi", "tommid", "tomlo", "snare"])),
                                        float(rng.uniform(0.5, 1.0))))
                continue
            if s in kick:
                hits.append(DrumHit(t, "kick", float(rng.uniform(0.75, 1.0))))
            if s in snare:
                hits.append(DrumHit(t, "clap" if clap else "snare", float(rng.uniform(0.75, 1.0))))
            elif rng.random() < 0.04:
                hits.append(DrumHit(t, "snare", float(rng.uniform(0.2, 0.45))))  # ghost note
            if s in openhat:
                hits.append(DrumHit(t, "hatopen", float(rng.uniform(0.5, 0.9))))
            elif s in hat:
                role = "ride" if ride else "hat"
                accent = 0.85 if s % 4 == 0 else 0.6
                hits.append(DrumHit(t, role, float(np.clip(rng.normal(accent, 0.1), 0.2, 1))))
            if perc and s % 4 == 2 and rng.random() < 0.6:
                hits.append(DrumHit(t, "perc", float(rng.uniform(0.4, 0.9))))
    return hits
