#pragma once
// A temporary resources folder for the plug-in's tests: the marker file, the
// four model files (each written, left out or corrupted on request) and a
// graphics context that serves the folder.
#include "framework/IGraphicsFolder.h"
#include "tests/plugin/ModelFileWriter.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace testmodels {

class TestResources {
public:
    TestResources() {
        char pattern[] = "/tmp/stemvolta-test-XXXXXX";
        if (const char* made = mkdtemp(pattern)) mFolder = made;
        WriteBytes("dummy.txt", {'x'});
    }
    ~TestResources() {
        for (const std::string& f : mFiles) std::remove(f.c_str());
        if (!mFolder.empty()) rmdir(mFolder.c_str());
    }
    TestResources(const TestResources&) = delete;
    TestResources& operator=(const TestResources&) = delete;

    static std::string ModelName(int stem) {
        return "dnn-model-source" + std::to_string(stem) + ".model";
    }
    bool SetModel(int stem, const ModelFileWriter& model) {
        return WriteBytes(ModelName(stem), model.Bytes());
    }
    // A file the engine cannot parse (a layer count, then nothing).
    bool SetCorruptModel(int stem) { return WriteBytes(ModelName(stem), {3, 0, 0, 0, 1}); }

    const std::string& Folder() const { return mFolder; }
    bool Ok() const { return !mFolder.empty(); }
    // A graphics context serving this folder; the caller owns it.
    IGraphicsFolder* NewGraphics() const { return new IGraphicsFolder(mFolder.c_str()); }

private:
    bool WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
        if (mFolder.empty()) return false;
        const std::string path = mFolder + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f) return false;
        const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        const bool closed = std::fclose(f) == 0;
        mFiles.push_back(path);
        return ok && closed;
    }

    std::string mFolder;
    std::vector<std::string> mFiles;
};

} // namespace testmodels
