// korvalin-cli render, run as the user runs it: pages as a PDF or SVG files,
// a range of measures, and refusals that leave an existing file alone. The
// pages are read back with poppler's pdfinfo and pdftotext.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "CliSupport.h"
#include "FileIO.h"
#include "MidiBuilder.h"

namespace korvalin {
namespace {

namespace fs = std::filesystem;
using test::ReadText;
using test::ShellQuoted;

// "Sonatina": a violin in eighths and a cello in halves, 4/4.
test::Bytes Duo(int measures) {
    test::MidiBuilder midi(1, 480);
    midi.Track().Name("Sonatina").Tempo(0, 500000).TimeSig(0, 4, 2).End();
    auto& violin = midi.Track().Name("Violin");
    for (int i = 0; i < measures * 8; ++i) violin.Note(0, 240, 0, 72 + (i * 5) % 12);
    violin.End();
    auto& cello = midi.Track().Name("Cello");
    for (int i = 0; i < measures * 2; ++i) cello.Note(0, 960, 1, 36 + (i * 7) % 12);
    cello.End();
    return midi.Bytes();
}

class CliRender : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "korvalin-cli-render.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        FDir = pattern;
        FInput = (FDir / "sonatina.mid").string();
        WriteFileAtomically(FInput, Duo(40));
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(FDir, ec);
    }

    int Run(const std::vector<std::string>& args) {
        // The page engine asks for a runtime folder; without XDG_RUNTIME_DIR
        // Qt would make one in the shared temporary folder and leave it there.
        const fs::path runtime = FDir / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        std::string command =
            "XDG_RUNTIME_DIR=" + ShellQuoted(runtime.string()) + " " + ShellQuoted(KORVALIN_CLI) + " render";
        for (const auto& arg : args) command += " " + ShellQuoted(arg);
        command += " >/dev/null 2>" + ShellQuoted((FDir / "stderr.txt").string()) + " </dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Errors() const { return ReadText(FDir / "stderr.txt"); }

    // A poppler tool's output for a file.
    std::string Poppler(const std::string& tool, const std::string& options, const fs::path& file) {
        const fs::path out = FDir / "poppler.txt";
        const std::string command = tool + " " + options + " " + ShellQuoted(file.string()) + " " +
                                    (tool == "pdftotext" ? "- " : "") + ">" + ShellQuoted(out.string()) +
                                    " 2>/dev/null";
        return std::system(command.c_str()) == 0 ? ReadText(out) : std::string();
    }
    int Pages(const fs::path& pdf) {
        std::smatch match;
        const std::string info = Poppler("pdfinfo", "", pdf);
        return std::regex_search(info, match, std::regex("Pages:\\s+(\\d+)")) ? std::stoi(match[1]) : -1;
    }

    fs::path FDir;
    std::string FInput;
};

TEST_F(CliRender, APdfAndItsSvgPagesShowTheWholeScore) {
    const fs::path pdf = FDir / "Sonatina.PDF";
    ASSERT_EQ(Run({FInput, pdf.string()}), 0) << Errors();
    const int pages = Pages(pdf);
    ASSERT_GE(pages, 1) << Poppler("pdfinfo", "", pdf);
    const std::string first = Poppler("pdftotext", "-f 1 -l 1", pdf);
    for (const char* expected : {"Sonatina", "Violin", "Cello"})
        EXPECT_NE(first.find(expected), std::string::npos) << first;

    // The same pages as SVG, one file a page beside the name given.
    ASSERT_EQ(Run({FInput, (FDir / "pages.svg").string(), "--grid", "8"}), 0) << Errors();
    int svgPages = 0;
    while (fs::exists(FDir / ("pages-" + std::to_string(svgPages + 1) + ".svg"))) ++svgPages;
    EXPECT_EQ(svgPages, pages);
    EXPECT_FALSE(fs::exists(FDir / "pages.svg"));
    const std::string svg = ReadText(FDir / "pages-1.svg");
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    EXPECT_NE(svg.find("Violin"), std::string::npos);
    EXPECT_EQ(std::system(("xmllint --noout " + ShellQuoted((FDir / "pages-1.svg").string())).c_str()), 0);
}

TEST_F(CliRender, MeasuresLimitThePagesAndARangeWithoutMeasuresIsRefused) {
    const fs::path pdf = FDir / "excerpt.pdf";
    ASSERT_EQ(Run({FInput, pdf.string(), "--measures", "3-5"}), 0) << Errors();
    EXPECT_EQ(Pages(pdf), 1);
    // The excerpt starts at measure 3, numbered as in the score.
    const std::string text = Poppler("pdftotext", "", pdf);
    EXPECT_NE(text.find("Violin"), std::string::npos) << text;

    // Refusals leave the file that is there as it was.
    WriteFileAtomically(pdf.string(), std::string_view("an older file"));
    EXPECT_EQ(Run({FInput, pdf.string(), "--measures", "90-99"}), 1);
    EXPECT_NE(Errors().find("no measures numbered"), std::string::npos) << Errors();
    EXPECT_EQ(Run({FInput, pdf.string(), "--measures", "5-3"}), 2);
    EXPECT_EQ(Run({FInput, pdf.string(), "--measures", "five"}), 2);
    EXPECT_EQ(Run({FInput, (FDir / "pages.png").string()}), 2);
    EXPECT_EQ(Run({(FDir / "missing.mid").string(), pdf.string()}), 1);
    EXPECT_EQ(ReadText(pdf), "an older file");
    EXPECT_FALSE(fs::exists(FDir / "pages.png"));
}

}  // namespace
}  // namespace korvalin
