// Readable scores in the real viewer page: a grand staff, two voices on a
// staff with their hidden rests, a drum staff, and a performed piano piece
// from the corpus all render without an error.
#include "WebEngineTestSupport.h"

#include "MidiParser.h"
#include "MusicXmlExporter.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace korvalin::test {
namespace {

class ReadableRender : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(FViewer.StartAndWait()) << FViewer.Host().ErrorText().toStdString(); }

    // Renders the document and says what the page shows afterwards.
    // A long score may take a minute on a busy machine: `milliseconds` bounds the wait.
    void ExpectRendered(const std::string& document, const std::string& what, int milliseconds = 30000) {
        const QString base64 = QString::fromLatin1(QByteArray::fromStdString(document).toBase64());
        EXPECT_EQ(Await(FViewer.Page(), QStringLiteral("window.renderMusicXmlBase64('") + base64 + QStringLiteral("')"),
                        milliseconds),
                  QVariant(true))
            << what;
        EXPECT_EQ(Eval(FViewer.Page(), QStringLiteral("document.getElementById('message').className")).toString(),
                  QString())
            << what;
        EXPECT_GE(Eval(FViewer.Page(), QStringLiteral("document.querySelectorAll('#score svg').length")).toInt(), 1)
            << what;
    }

    static std::string Golden(const std::string& name) {
        QFile file(QString::fromStdString(std::string(KORVALIN_TESTS_DIR) + "/golden/" + name + ".musicxml"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        return file.readAll().toStdString();
    }

    TStartedHost FViewer;
};

TEST_F(ReadableRender, HandWrittenScoresOfEveryKindRender) {
    for (const char* name : {"readable_piano_hands", "readable_two_voices", "readable_drums", "readable_six_eight",
                             "readable_meter_change"})
        ExpectRendered(Golden(name), name);
}

TEST_F(ReadableRender, APerformedPianoPieceRendersOnAGrandStaff) {
    const std::filesystem::path file =
        std::filesystem::path(KORVALIN_CORPUS_DIR) / "midi" / "tonejs-midi" / "tchaikovsky_seasons.mid";
    if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus file not found: " << file;
    TMidiFile midi;
    midi.LoadFromFile(file.string());
    std::vector<const TMidiTrack*> tracks;
    for (const auto& track : midi.Tracks())
        if (!track->Notes().empty()) tracks.push_back(track.get());
    TExportOptions options;
    options.Notation = TNotationMode::nmReadable;
    const std::string document = BuildMusicXmlText(midi, tracks, file.string(), 16, options);
    ASSERT_NE(document.find("<staves>2</staves>"), std::string::npos);
    ExpectRendered(document, file.filename().string(), 100000);
}

}  // namespace
}  // namespace korvalin::test
