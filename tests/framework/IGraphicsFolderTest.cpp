#include "framework/IGraphicsFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A context whose platform lookup answers with a fixed path (or nothing), to
// pin the folder arithmetic independently of the file system.
class FixedPathGraphics : public IGraphics {
public:
    explicit FixedPathGraphics(const char* path) : mPath(path) {}
    void ResourcePath(KIT_String& out, const char* fileName) override {
        lastName = fileName;
        if (mPath) out.Set(mPath);
    }
    std::string lastName;

private:
    const char* mPath;
};

struct FolderCase {
    const char* markerPath; // null: the marker is not found
    const char* folder;
};

class ResourcesFolderPathTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ResourcesFolderPathTest, StripsTheMarkerName) {
    FixedPathGraphics graphics(GetParam().markerPath);
    KIT_String out("previous contents");
    graphics.ResourcesFolderPath(out);
    EXPECT_STREQ(GetParam().folder, out.Get());
    EXPECT_EQ("dummy.txt", graphics.lastName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResourcesFolderPathTest,
    ::testing::Values(FolderCase{"/Library/Audio/Plug-Ins/Components/QX Stemvolta.component/"
                                 "Contents/Resources/dummy.txt",
                                 "/Library/Audio/Plug-Ins/Components/QX Stemvolta.component/"
                                 "Contents/Resources"},
                      FolderCase{"x/dummy.txt", "x"}, // 11 characters: one left
                      FolderCase{"/dummy.txt", ""},   // exactly 10 characters
                      FolderCase{"dummy.txt", ""},    // shorter than the suffix
                      FolderCase{nullptr, ""}));      // marker missing

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/igraphics-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made) path = made;
    }
    ~TempFolder() {
        for (const std::string& f : files) std::remove(f.c_str());
        for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) rmdir(it->c_str());
        rmdir(path.c_str());
    }
    std::string Touch(const std::string& name) {
        const std::string full = path + "/" + name;
        if (FILE* f = std::fopen(full.c_str(), "wb")) {
            std::fputs("x", f);
            std::fclose(f);
        }
        files.push_back(full);
        return full;
    }
    std::string Dir(const std::string& name) {
        const std::string full = path + "/" + name;
        mkdir(full.c_str(), 0700);
        dirs.push_back(full);
        return full;
    }
    std::string path;

private:
    std::vector<std::string> files, dirs;
};

TEST(IGraphicsFolderTest, FindsFilesByTheLastComponentOfTheirName) {
    TempFolder tmp;
    ASSERT_FALSE(tmp.path.empty());
    const std::string model = tmp.Touch("dnn-model-source0.model");
    const std::string manual = tmp.Touch("QX-Stemvolta_manual-EN.pdf");
    const std::string noType = tmp.Touch("README");
    IGraphicsFolder graphics(tmp.path.c_str());

    KIT_String out;
    graphics.ResourcePath(out, "dnn-model-source0.model");
    EXPECT_EQ(model, out.Get());
    graphics.ResourcePath(out, "manual/QX-Stemvolta_manual-EN.pdf");
    EXPECT_EQ(manual, out.Get());
    graphics.ResourcePath(out, "README");
    EXPECT_EQ(noType, out.Get());
}

TEST(IGraphicsFolderTest, LeavesTheTextAloneWhenNothingMatches) {
    TempFolder tmp;
    ASSERT_FALSE(tmp.path.empty());
    tmp.Dir("folder.model"); // a directory is not a resource file
    IGraphicsFolder graphics(tmp.path.c_str());
    IGraphicsFolder noFolder(nullptr);

    for (const char* name : {"missing.txt", "folder.model", "", ".txt"}) {
        KIT_String out("kept");
        graphics.ResourcePath(out, name);
        EXPECT_STREQ("kept", out.Get()) << name;
        noFolder.ResourcePath(out, name);
        EXPECT_STREQ("kept", out.Get()) << name;
    }
    KIT_String out("kept");
    graphics.ResourcePath(out, nullptr);
    EXPECT_STREQ("kept", out.Get());
}

TEST(IGraphicsFolderTest, ResourcesFolderIsTheFolderOfTheMarker) {
    TempFolder tmp;
    ASSERT_FALSE(tmp.path.empty());
    const std::string resources = tmp.Dir("Contents");
    tmp.Dir("Contents/Resources");
    tmp.Touch("Contents/Resources/dummy.txt");

    IGraphicsFolder graphics((tmp.path + "/Contents/Resources/").c_str());
    KIT_String out;
    graphics.ResourcesFolderPath(out);
    EXPECT_EQ(tmp.path + "/Contents/Resources", out.Get());

    IGraphicsFolder withoutMarker(resources.c_str());
    withoutMarker.ResourcesFolderPath(out);
    EXPECT_STREQ("", out.Get());
}

} // namespace
