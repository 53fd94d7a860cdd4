// A fixture whose test gets a fresh folder of its own, removed afterwards, and the file helpers
// the file tests share.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testkit {

class FolderTest : public ::testing::Test {
  protected:
    FolderTest() {
        char pattern[] = "/tmp/qv-test-XXXXXX";
        if (mkdtemp(pattern))
            folder = pattern;
        else
            ADD_FAILURE() << "cannot make a scratch folder";
    }
    ~FolderTest() override {
        if (entered && chdir("/") != 0)
            ADD_FAILURE() << "cannot leave the scratch folder";
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    // Makes the folder the working directory, for code that takes plain file names.
    void EnterFolder() {
        entered = chdir(folder.c_str()) == 0;
        EXPECT_TRUE(entered) << folder;
    }
    std::string Path(const std::string& leaf) const { return folder + "/" + leaf; }
    // The names in the folder, sorted.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A file's bytes; empty when it cannot be read.
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }

    std::string folder;

  private:
    bool entered = false;
};

}  // namespace testkit
