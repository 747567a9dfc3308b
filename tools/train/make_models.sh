#!/bin/bash
# Reproduces the four shipped mask models from nothing and says how long each
# step took:
#   1. dataset     tools/train/make_dataset.py (3000 train songs of 10 to
#                  20 s + 80 test songs of 20 to 40 s: 40 reported, 40 for
#                  validation)
#   2. export      stemvolta-export over both splits (the train split in
#                  parallel shards, concatenated in track order)
#   3. training    tools/train/train.py, checkpoints during the run
#   4. selection   the checkpoint with the best average SDR on the first
#                  SELECT_SONGS held-out songs, or on the VALIDATION_SONGS
#                  after the reported ones (networks trained together stay
#                  together); SELECT=stem takes each stem's best instead
#   5. evaluation  tools/train/evaluate.py on every held-out song, written to
#                  docs/separation-quality.md
#
#   tools/train/make_models.sh BUILD_DIR
#
# With the defaults DATA needs about 72 GB (40 GB of songs, 32 GB of training
# data; only the export and FROM=export read the training songs), training
# holds about 19 GB of mix and masks in memory, and the road takes about an
# hour and a half on 8 cores.
#
# BUILD_DIR holds the built tools (stemvolta-export, nn-predict,
# stemvolta-render). Settings from the environment (defaults in brackets):
# DATA [data] working folder (dataset, export, training run); MODELS
# [plugin/resources] where the chosen model files go; REPORT
# [docs/separation-quality.md]; JOBS [nproc]; THREADS [the cores the load
# average leaves free when the road starts, 1 to 8] torch threads (OpenMP
# threads beyond the free cores slow training down many times over on a
# shared machine); HIDDEN [384]
# hidden layer widths; COMPRESSION [log-trained]; JOINT [1] train the four
# together; AVERAGE [0.999] weight averaging; EPOCHS [3]; BATCH [1024];
# LR [0.0015]; WEIGHT_POWER [0.5] each bin's loss weighs the mix magnitude to
# this power (the square root scored higher than the magnitude itself on the
# reported and the validation songs alike); HALF_MIX [0] 1 holds the training
# mix in memory as float16 (half its memory, room for more training songs;
# each magnitude within a relative 2^-11); CHECKPOINTS [2] per epoch; SELECT
# [average]; SELECT_SONGS [20] (used when VALIDATION_SONGS is 0);
# TRAIN_SONGS [3000]; TRAIN_SECONDS ["10 20"] the training songs' duration
# range (more, shorter songs: more varied data for the same training time);
# TEST_SONGS [40] the reported held-out songs; VALIDATION_SONGS [40] held-out
# songs numbered after them, made with them, that choose the checkpoint in
# place of the first SELECT_SONGS (the report's songs then take no part in
# the choice; a song depends only on its number, so the reported ones stay
# the same).
# KEEP_DATASET=1 keeps the songs already synthesised and makes only the
# missing ones. FROM=export|training|selection|evaluation starts at that step,
# on what the earlier steps left in DATA.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: tools/train/make_models.sh BUILD_DIR" >&2
    exit 2
fi
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=$(cd "$1" && pwd)
cd "$ROOT"

PY=/usr/bin/python3
DATA=${DATA:-data}
MODELS=${MODELS:-plugin/resources}
JOBS=${JOBS:-$(nproc)}
REPORT=${REPORT:-docs/separation-quality.md}
THREADS=${THREADS:-auto}
HIDDEN=${HIDDEN:-384}
COMPRESSION=${COMPRESSION:-log-trained}
JOINT=${JOINT:-1}
AVERAGE=${AVERAGE:-0.999}
EPOCHS=${EPOCHS:-3}
BATCH=${BATCH:-1024}
LR=${LR:-0.0015}
WEIGHT_POWER=${WEIGHT_POWER:-0.5}
HALF_MIX=${HALF_MIX:-0}
CHECKPOINTS=${CHECKPOINTS:-2}
SELECT=${SELECT:-average}
SELECT_SONGS=${SELECT_SONGS:-20}
TRAIN_SONGS=${TRAIN_SONGS:-3000}
TRAIN_SECONDS=${TRAIN_SECONDS:-10 20}
FROM=${FROM:-dataset}
TEST_SONGS=${TEST_SONGS:-40}
VALIDATION_SONGS=${VALIDATION_SONGS:-40}

# The cores other work leaves free, taken before our own steps load the
# machine: read after the parallel export, the load average would still count
# it and starve the training of threads.
FREE_CORES=$(awk -v n="$(nproc)" '{ t = int(n - $1 + 0.5); print (t < 1 ? 1 : (t > 8 ? 8 : t)) }' \
    /proc/loadavg)

EXPORT=$BUILD/tools/train/stemvolta-export
PREDICT=$BUILD/tools/nn/nn-predict
RENDER=$BUILD/tools/render/stemvolta-render
for tool in "$EXPORT" "$PREDICT" "$RENDER"; do
    if [ ! -x "$tool" ]; then
        echo "make_models: $tool is missing (build it first: make build)" >&2
        exit 2
    fi
done

TIMES=()
step() { # step NAME COMMAND...
    local name=$1 start end
    shift
    echo "== $name"
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    TIMES+=("$(printf '%-11s %8.1f s' "$name" "$(echo "$end - $start" | bc)")")
    echo "== $name took $(echo "$end - $start" | bc) s"
}

make_dataset() {
    local keep=()
    if [ "${KEEP_DATASET:-0}" = 1 ]; then
        keep=(--keep)
    else
        rm -rf "$DATA/dataset"
    fi
    # shellcheck disable=SC2086 # TRAIN_SECONDS is two words
    "$PY" tools/train/make_dataset.py "$DATA/dataset" --train "$TRAIN_SONGS" \
        --train-seconds $TRAIN_SECONDS --test "$(( TEST_SONGS + VALIDATION_SONGS ))" \
        --jobs "$JOBS" "${keep[@]}"
}

# Shards of a split: folders with a slice of its track list and links to its
# audio; their outputs concatenated in shard order hold every track's records
# in track order. (Not byte for byte those of one export: an export carries
# the analysis engines' state from one track into the next, so a shard's
# frames fall on another grid from its first track on.)
export_split() { # export_split SPLIT_DIR OUT_DIR SHARDS
    local split=$1 out=$2 shards=$3 work tracks per s file pids=()
    work="$out.shards"
    rm -rf "$out" "$work"
    mkdir -p "$work"
    tracks=$(wc -l < "$split/Tracks.txt")
    per=$(( (tracks + shards - 1) / shards ))
    for ((s = 0; s < shards; s++)); do
        mkdir -p "$work/in-$s"
        ln -s "$(cd "$split" && pwd)/Mixtures" "$work/in-$s/Mixtures"
        ln -s "$(cd "$split" && pwd)/Sources" "$work/in-$s/Sources"
        awk -v s=$s -v per=$per 'int((NR - 1) / per) == s' "$split/Tracks.txt" \
            > "$work/in-$s/Tracks.txt"
        [ -s "$work/in-$s/Tracks.txt" ] || continue
        "$EXPORT" "$work/in-$s" "$work/out-$s" > "$work/log-$s" 2>&1 &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        if ! wait "$pid"; then
            echo "make_models: an export of $split failed; see $work/log-*" >&2
            exit 1
        fi
    done
    # Each shard's file goes as soon as it is copied: the split's data then
    # needs its own size on disk once, plus one shard file, not twice over.
    mkdir -p "$out"
    for file in mix.dat mask0.dat mask1.dat mask2.dat mask3.dat dump.txt; do
        for ((s = 0; s < shards; s++)); do
            if [ -f "$work/out-$s/$file" ]; then
                cat "$work/out-$s/$file"
                rm -f "$work/out-$s/$file"
            fi
        done > "$out/$file"
    done
    grep -h "stemvolta-export:" "$work"/log-* || true
    rm -rf "$work"
}

export_all() {
    local shards=$(( JOBS > 8 ? 8 : JOBS ))
    export_split "$DATA/dataset/train" "$DATA/export/train" "$shards"
    export_split "$DATA/dataset/test" "$DATA/export/test" "$(( shards > 2 ? 2 : shards ))"
    du -sh "$DATA/export/train" "$DATA/export/test"
}

train() {
    if [ "$THREADS" = auto ]; then
        THREADS=$FREE_CORES
        echo "torch threads: $THREADS"
    fi
    local flags=()
    [ "$JOINT" = 1 ] && flags+=(--joint)
    [ "$HALF_MIX" = 1 ] && flags+=(--half-mix)
    rm -rf "$DATA/run"
    "$PY" tools/train/train.py "$DATA/export/train" --val "$DATA/export/test" \
        --out "$DATA/run" --hidden "$HIDDEN" --epochs "$EPOCHS" --batch "$BATCH" --lr "$LR" \
        --weight-power "$WEIGHT_POWER" \
        --compression "$COMPRESSION" --average "$AVERAGE" "${flags[@]}" \
        --checkpoints "$CHECKPOINTS" --threads "$THREADS" --predict "$PREDICT"
}

# Every checkpoint and the final networks scored without the oracle; the
# best folder's files (per stem with SELECT=stem) go to MODELS.
select_models() {
    local scores="$DATA/run/scores" dir songs=(--songs "$SELECT_SONGS")
    local on="held-out songs 0 to $(( SELECT_SONGS - 1 ))"
    if [ "$VALIDATION_SONGS" -gt 0 ]; then
        songs=(--skip "$TEST_SONGS" --songs "$VALIDATION_SONGS")
        on="held-out songs $TEST_SONGS to $(( TEST_SONGS + VALIDATION_SONGS - 1 ))"
    fi
    rm -rf "$scores"
    mkdir -p "$scores"
    for dir in "$DATA"/run/checkpoints/step-* "$DATA/run"; do
        [ -f "$dir/dnn-model-source0.model" ] || continue
        "$PY" tools/train/evaluate.py --models "$dir" "${songs[@]}" --jobs "$JOBS" \
            --dataset "$DATA/dataset/test" --render "$RENDER" --no-oracle \
            --out "$scores/$(basename "$dir").md" --json "$scores/$(basename "$dir").json"
    done
    "$PY" - "$DATA/run" "$MODELS" "$SELECT" "$on" <<'EOF'
import glob, json, os, shutil, sys
run, models, select, on = sys.argv[1:5]
stems = ["vocals", "bass", "drums", "other"]
best = [None] * 4
for path in sorted(glob.glob(os.path.join(run, "scores", "*.json"))):
    name = os.path.splitext(os.path.basename(path))[0]
    folder = run if name == os.path.basename(run) else os.path.join(run, "checkpoints", name)
    with open(path) as f:
        row = json.load(f)["table"]["networks"]
    for k, stem in enumerate(stems):
        score = row[stem] if select == "stem" else row["average"]
        if score is not None and (best[k] is None or score > best[k][0]):
            best[k] = (score, folder)
os.makedirs(models, exist_ok=True)
chosen = {}
for k, stem in enumerate(stems):
    if best[k] is None:
        sys.exit("make_models: no score for %s" % stem)
    shutil.copyfile(os.path.join(best[k][1], "dnn-model-source%d.model" % k),
                    os.path.join(models, "dnn-model-source%d.model" % k))
    chosen[stem] = {"folder": best[k][1], "sdr": best[k][0], "by": select, "on": on}
    print("%-7s %6.2f dB (%s)  from %s" % (stem, best[k][0], select, best[k][1]))
with open(os.path.join(run, "train-summary.json")) as f:
    summary = json.load(f)
summary["chosen"] = chosen
with open(os.path.join(models, "train-summary.json"), "w") as f:
    json.dump(summary, f, indent=1)
EOF
}

evaluate() {
    "$PY" tools/train/evaluate.py --models "$MODELS" --songs "$TEST_SONGS" --jobs "$JOBS" \
        --dataset "$DATA/dataset/test" --render "$RENDER" --out "$REPORT"
}

# The road runs from one function called on the file's last line: bash reads
# a script as it runs it, and an edit to this file during an hour-long run
# would otherwise be read at a stale offset and run steps again.
main() {
    STEPS=(dataset:make_dataset export:export_all training:train selection:select_models
           evaluation:evaluate)
    case $SELECT in
        average | stem) ;;
        *) echo "make_models: SELECT=$SELECT is not average or stem" >&2
           exit 2 ;;
    esac
    case $VALIDATION_SONGS in
        '' | *[!0-9]*) echo "make_models: VALIDATION_SONGS=$VALIDATION_SONGS is not a count" >&2
                       exit 2 ;;
    esac
    STARTED=$(date +%s.%N)
    started=0
    for entry in "${STEPS[@]}"; do
        [ "${entry%%:*}" = "$FROM" ] && started=1
        [ "$started" = 1 ] && step "${entry%%:*}" "${entry#*:}"
    done
    if [ "$started" = 0 ]; then
        echo "make_models: FROM=$FROM is not a step (${STEPS[*]%%:*})" >&2
        exit 2
    fi
    echo
    echo "make_models: step times"
    printf '  %s\n' "${TIMES[@]}"
    printf '  %-11s %8.1f s\n' total "$(echo "$(date +%s.%N) - $STARTED" | bc)"
}

main "$@"; exit
