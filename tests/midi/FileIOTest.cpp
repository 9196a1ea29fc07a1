// The atomic writer with a registry of temporary files, as a program that may
// be stopped by a signal uses it from several threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CliSupport.h"
#include "FileIO.h"
#include "ScratchFolder.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;

class TempFileRegistry : public ::testing::Test {
protected:
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(FDir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    const test::ScratchFolder FScratch{"korvalin-fileio"};
    const fs::path& FDir = FScratch.Path();
};

TEST_F(TempFileRegistry, WritesFromManyThreadsLeaveOnlyTheirTargets) {
    TTempFileRegistry registry;
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                const auto name = (FDir / ("f" + std::to_string(t * 100 + i))).string();
                WriteFileAtomically(name, std::string(1000, static_cast<char>('a' + t)), &registry);
            }
        });
    threads.clear();
    const auto names = Names();
    EXPECT_EQ(names.size(), 100u);
    for (const auto& name : names) EXPECT_EQ(name[0], 'f') << name;
    EXPECT_EQ(test::ReadText(FDir / "f307"), std::string(1000, 'd'));
}

TEST_F(TempFileRegistry, AClosedRegistryRefusesWritesAndKeepsTheTarget) {
    const auto target = (FDir / "score.musicxml").string();
    WriteFileAtomically(target, std::string_view("old"));
    TTempFileRegistry registry;
    registry.Close();
    EXPECT_THROW(WriteFileAtomically(target, std::string_view("new"), &registry), EFileError);
    EXPECT_EQ(test::ReadText(target), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"score.musicxml"});
}

}  // namespace
}  // namespace korvalin
