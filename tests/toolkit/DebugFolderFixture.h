#pragma once
// Points HOME at a fresh temporary folder holding the debug dump folder for
// the duration of one test, and removes it afterwards.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class DebugFolderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("HOME");
        mHadHome = old != nullptr;
        mOldHome = old ? old : "";
        char dir[] = "/tmp/kitdebugXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        mHome = dir;
        ASSERT_EQ(mkdir((mHome + "/Documents").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(Folder().c_str(), 0700), 0);
        setenv("HOME", mHome.c_str(), 1);
    }

    void TearDown() override {
        if (DIR* dir = opendir(Folder().c_str())) {
            while (const dirent* entry = readdir(dir))
                if (entry->d_name[0] != '.') std::remove((Folder() + "/" + entry->d_name).c_str());
            closedir(dir);
        }
        rmdir(Folder().c_str());
        rmdir((mHome + "/Documents").c_str());
        rmdir(mHome.c_str());
        if (mHadHome)
            setenv("HOME", mOldHome.c_str(), 1);
        else
            unsetenv("HOME");
    }

    std::string Folder() const { return mHome + "/Documents/CorvenaAudio-Debug"; }

    std::string Path(const std::string& name) const { return Folder() + "/" + name; }

    std::string Contents(const std::string& name) const {
        std::ifstream f(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }

    bool Exists(const std::string& name) const {
        struct stat st;
        return stat(Path(name).c_str(), &st) == 0;
    }

    std::string mHome;

private:
    std::string mOldHome;
    bool mHadHome = false;
};
