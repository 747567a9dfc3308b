#!/bin/sh
# Separates the bundled demo mix into its four stems, each soloed through the
# whole Stemvolta chain with the shipped models, and prints what it wrote.
#
#   tools/render/demo.sh BUILD_DIR [MODELS_DIR]
#
# BUILD_DIR holds the built tools (e.g. build/release); MODELS_DIR defaults to
# plugin/resources. Writes build/demo/{vocals,bass,drums,other}.wav (32-bit
# float WAV, the mix's length and rate). The mix, tools/render/demo-mix.flac,
# is ten seconds of a held-out song of our own synthesised dataset.
set -eu

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [MODELS_DIR]" >&2
    exit 2
fi
cd "$(dirname "$0")/../.."
render="$1/tools/render/stemvolta-render"
models="${2:-plugin/resources}"
mix=tools/render/demo-mix.flac
out=build/demo
python=/usr/bin/python3

if [ ! -x "$render" ]; then
    echo "demo: no $render (build first: make build)" >&2
    exit 1
fi
mkdir -p "$out"

# One render per stem, all at once: that stem at 0 dB, the others at -120 dB.
stems="vocals bass drums other"
pids=""
k=0
for stem in $stems; do
    levels=""
    for j in 0 1 2 3; do
        if [ "$j" -eq "$k" ]; then level=0; else level=-120; fi
        levels="${levels:+$levels,}$level"
    done
    "$render" --models "$models" --levels "$levels" "$mix" "$out/$stem.wav" &
    pids="$pids $!"
    k=$((k + 1))
done
failed=0
for pid in $pids; do
    wait "$pid" || failed=1
done
if [ "$failed" -ne 0 ]; then
    echo "demo: a render failed (see above)" >&2
    exit 1
fi

"$python" - "$mix" "$out" $stems <<'PY'
import math, os, sys
import numpy as np
import soundfile as sf

mix, out, stems = sys.argv[1], sys.argv[2], sys.argv[3:]

def rms_db(path):
    x, rate = sf.read(path, dtype="float64", always_2d=True)
    rms = math.sqrt(float(np.mean(x * x))) if x.size else 0.0
    return (20 * math.log10(rms) if rms > 0 else float("-inf")), x.shape[0] / rate

level, seconds = rms_db(mix)
print("Stemvolta demo: %s (%.1f s), RMS %.1f dBFS" % (mix, seconds, level))
for stem in stems:
    path = os.path.join(out, stem + ".wav")
    level, seconds = rms_db(path)
    print("  %-7s -> %s  RMS %6.1f dBFS" % (stem, path, level))
PY
