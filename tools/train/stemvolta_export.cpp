// stemvolta-export: the plug-in's training-data export over one dataset split.
//
//   stemvolta-export [--debug] DATASET_DIR OUTPUT_DIR
//
// DATASET_DIR holds "Tracks.txt" (one track name per line),
// "Mixtures/<track>/mixture.wav" and "Sources/<track>/<stem>.wav" for the
// stems vocals, bass, drums and other (44100 Hz, equal lengths; channel 0 is
// used, as the plug-in predicts from its left channel). OUTPUT_DIR (created
// when missing) receives "mix.dat" (4 x 256 floats per frame: the model
// input), "mask0.dat" .. "mask3.dat" (256 floats per frame: the ideal 0/1
// mask of each stem) and "dump.txt" (progress). The export appends, so the
// tool refuses an output folder that already holds any of these files.
// --debug also writes the export's spectrogram pictures into the debug folder.
//
// Exit status: 0 when at least one track was exported and the files agree
// on the frame count; 1 when nothing was exported or the files disagree;
// 2 on bad arguments or an unusable output folder.
#include "plugin/StemvoltaOfflineHost.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] = "usage: stemvolta-export [--debug] DATASET_DIR OUTPUT_DIR\n";
const char* const kOutputs[] = {"mix.dat",   "mask0.dat", "mask1.dat",
                                "mask2.dat", "mask3.dat", "dump.txt"};
constexpr long long kMixRecordBytes = 4 * 256 * 4;
constexpr long long kMaskRecordBytes = 256 * 4;

// -1 when the file does not exist.
long long FileSize(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// mkdir -p.
bool MakeFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        const std::string part = path.substr(0, i);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

int main(int argc, char** argv) {
    bool debug = false;
    std::string dirs[2];
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--debug") == 0) {
            debug = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argv[i][0] == '-' || positional == 2) {
            std::fprintf(stderr, "stemvolta-export: unexpected argument %s\n%s", argv[i], kUsage);
            return 2;
        } else {
            dirs[positional++] = argv[i];
        }
    }
    if (positional != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& out = dirs[1];
    if (!MakeFolders(out)) {
        std::fprintf(stderr, "stemvolta-export: cannot create the folder %s\n", out.c_str());
        return 2;
    }
    for (const char* name : kOutputs) {
        if (FileSize(out + "/" + name) >= 0) {
            std::fprintf(stderr,
                         "stemvolta-export: %s/%s exists; the export appends, so remove the "
                         "old files or choose another folder\n",
                         out.c_str(), name);
            return 2;
        }
    }

    const auto started = std::chrono::steady_clock::now();
    StemvoltaOfflineHost plug;
    plug.SetSampleRate(Stemvolta::kStftRate);
    plug.SetLearnFolders(dirs[0].c_str(), out.c_str());
    plug.SetLearnDebug(debug);
    const int tracks = plug.InitLearn(Stemvolta::kOverlapping, Stemvolta::kFreqRes);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (tracks < 0) return 1;
    if (tracks == 0) {
        std::fprintf(stderr, "stemvolta-export: no track exported from %s\n", dirs[0].c_str());
        return 1;
    }

    const long long mixBytes = FileSize(out + "/mix.dat");
    const long long frames = mixBytes > 0 ? mixBytes / kMixRecordBytes : 0;
    bool consistent = mixBytes > 0 && mixBytes % kMixRecordBytes == 0;
    long long total = mixBytes;
    for (int k = 0; k < Stemvolta::kNumStems; ++k) {
        const long long bytes = FileSize(out + "/mask" + std::to_string(k) + ".dat");
        consistent = consistent && bytes == frames * kMaskRecordBytes;
        total += bytes;
    }
    if (!consistent) {
        std::fprintf(stderr,
                     "stemvolta-export: the files in %s do not hold the same number of whole "
                     "records (a write failed?)\n",
                     out.c_str());
        return 1;
    }
    std::printf("stemvolta-export: %d tracks, %lld frames, %.1f MB in %.1f s\n", tracks, frames,
                total / 1e6, seconds);
    return 0;
}
