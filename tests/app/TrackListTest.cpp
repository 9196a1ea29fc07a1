// The track list on its own: real list, editor and combo-box widgets, no
// window. What the rows show, which tracks the ticks and editors choose, and
// what they carry to a rewritten copy of the file.

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include <memory>

#include "MidiBuilder.h"
#include "MidiParser.h"
#include "TrackList.h"
#include "WindowTestSupport.h"

using korvalin::TClefMode;
using korvalin::TMidiFile;
using korvalin::TMidiTrack;
using korvalin::test::MidiBuilder;

namespace {

// A conductor track without notes, then a flute and a cello.
std::unique_ptr<TMidiFile> Duo() {
    MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).End();
    midi.Track().Name("Flute\r").Note(0, 480, 0, 72).Note(0, 480, 0, 76).End();
    midi.Track().Name("Cello").Note(0, 960, 1, 36).End();
    auto file = std::make_unique<TMidiFile>();
    file->LoadFromBytes(midi.Bytes());
    return file;
}

}  // namespace

class TTrackListTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QWidget> FPanel;
    QTreeWidget* FList = nullptr;
    QLineEdit* FPartName = nullptr;
    QComboBox* FClef = nullptr;
    std::unique_ptr<TTrackList> FTracks;
    std::unique_ptr<TMidiFile> FMidi;

    QTreeWidgetItem* Row(int i) const { return FList->topLevelItem(i); }

private slots:
    void init() {
        FPanel = std::make_unique<QWidget>();
        FList = new QTreeWidget(FPanel.get());
        FList->setColumnCount(5);
        FPartName = new QLineEdit(FPanel.get());
        FClef = new QComboBox(FPanel.get());
        FTracks = std::make_unique<TTrackList>(TTrackList::TControls{FList, FPanel.get(), FPartName, FClef});
        FTracks->SetEnglish(false);
        FMidi = Duo();
    }
    void cleanup() {
        FTracks.reset();
        FPanel.reset();
        FMidi.reset();
    }

    void aFileGivesOneTickedRowPerTrackWithNotes() {
        const TTrackList::TCounts counts = FTracks->Fill(*FMidi);
        QCOMPARE(counts.Parts, 2);
        QCOMPARE(counts.ServiceTracks, 1);
        QCOMPARE(FList->topLevelItemCount(), 2);
        // The name's trailing control character is not shown; the model keeps it.
        QCOMPARE(Row(0)->text(1), QStringLiteral("Flute"));
        QCOMPARE(Row(0)->text(2), QStringLiteral("2"));
        QCOMPARE(Row(0)->text(3), QStringLiteral("C5 – E5"));
        QCOMPARE(Row(0)->text(4), QStringLiteral("Автоматически"));
        QCOMPARE(FTracks->SelectedRow(), Row(0));
        QCOMPARE(FTracks->TickedTracks().size(), std::size_t{2});
        QVERIFY(FPanel->isEnabled());
        QCOMPARE(FPartName->text(), QStringLiteral("Flute"));
    }

    void editsChangeTheSelectedTrackOnly() {
        FTracks->Fill(*FMidi);
        FList->setCurrentItem(Row(1));
        FTracks->ShowSettings();
        FPartName->setText(QStringLiteral("Basso"));
        FTracks->PartNameChanged();
        FClef->setCurrentIndex(static_cast<int>(TClefMode::cmBass));
        FTracks->ClefChanged();
        const TMidiTrack* cello = TTrackList::RowTrack(Row(1));
        QCOMPARE(cello->ExportName, std::string("Basso"));
        QCOMPARE(cello->ClefMode, TClefMode::cmBass);
        QCOMPARE(Row(1)->text(1), QStringLiteral("Basso"));
        QCOMPARE(Row(1)->text(4), QStringLiteral("Басовый"));
        QCOMPARE(TTrackList::RowTrack(Row(0))->ClefMode, TClefMode::cmAuto);

        // Selecting the flute fills the editors without editing it.
        FList->setCurrentItem(Row(0));
        FTracks->ShowSettings();
        QVERIFY(!FTracks->Editing());
        QCOMPARE(FClef->currentIndex(), 0);
        QCOMPARE(TTrackList::RowTrack(Row(0))->ExportName, std::string("Flute\r"));

        // Without a selected row an edit reaches no track.
        FList->clearSelection();
        FPartName->setText(QStringLiteral("nobody"));
        FTracks->PartNameChanged();
        QCOMPARE(TTrackList::RowTrack(Row(0))->ExportName, std::string("Flute\r"));
        QCOMPARE(cello->ExportName, std::string("Basso"));
        FTracks->ShowSettings();
        QVERIFY(!FPanel->isEnabled());
        QVERIFY(FPartName->text().isEmpty());
    }

    void ticksChooseTheTracksInListOrder() {
        FTracks->Fill(*FMidi);
        FTracks->SetAllChecked(false);
        QVERIFY(FTracks->TickedTracks().empty());
        Row(1)->setCheckState(0, Qt::Checked);
        QCOMPARE(FTracks->TickedTracks(), std::vector<const TMidiTrack*>{TTrackList::RowTrack(Row(1))});
        FTracks->SetAllChecked(true);
        QCOMPARE(FTracks->TickedTracks(),
                 (std::vector<const TMidiTrack*>{TTrackList::RowTrack(Row(0)), TTrackList::RowTrack(Row(1))}));
    }

    void aRewrittenCopyTakesTheTickedRowsSettings() {
        FTracks->Fill(*FMidi);
        TMidiTrack* cello = TTrackList::RowTrack(Row(1));
        cello->ExportName = "Basso";
        cello->ClefMode = TClefMode::cmBass;
        Row(0)->setCheckState(0, Qt::Unchecked);
        const std::unique_ptr<TMidiFile> copy = Duo();
        const std::vector<const TMidiTrack*> tracks = FTracks->TickedCounterparts(*copy);
        QCOMPARE(tracks.size(), std::size_t{1});
        QCOMPARE(tracks[0], copy->Tracks()[2].get());
        QCOMPARE(tracks[0]->ExportName, std::string("Basso"));
        QCOMPARE(tracks[0]->ClefMode, TClefMode::cmBass);
        QCOMPARE(copy->Tracks()[1]->ExportName, std::string("Flute\r"));
    }

    void theLanguageRenamesClefsAndKeepsTheChoice() {
        FTracks->Fill(*FMidi);
        FClef->setCurrentIndex(1);
        FTracks->ClefChanged();
        FTracks->SetEnglish(true);
        QCOMPARE(FClef->count(), 3);
        QCOMPARE(FClef->currentText(), QStringLiteral("Treble"));
        QCOMPARE(Row(0)->text(4), QStringLiteral("Treble"));
        QCOMPARE(Row(1)->text(4), QStringLiteral("Automatic"));
        QCOMPARE(TTrackList::RowTrack(Row(0))->ClefMode, TClefMode::cmTreble);
    }
};

KORVALIN_WINDOW_TEST_MAIN(TTrackListTest)
#include "TrackListTest.moc"
