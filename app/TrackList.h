// The track list and the selected track's settings: a row of lvTracks for each
// track with notes, its tick, and the part-name and clef editors that change
// the selected track. The window owns one and gives it those controls.

#pragma once

#include <QString>

#include <vector>

#include "MidiParser.h"

class QComboBox;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

class TTrackList {
public:
    struct TControls {
        QTreeWidget* List = nullptr;
        QWidget* SettingsPanel = nullptr;
        QLineEdit* PartName = nullptr;
        QComboBox* Clef = nullptr;
    };
    // What a file filled the list with.
    struct TCounts {
        int Parts = 0;
        int ServiceTracks = 0;
    };

    explicit TTrackList(const TControls& controls) : FControls(controls) {}

    static QString ClefDisplayName(korvalin::TClefMode mode, bool english);

    // Rows, clef names and the clef choices in the given language.
    void SetEnglish(bool english);
    // One ticked row per track with notes, the first selected; tracks without
    // notes are counted as service tracks. The model keeps owning the tracks.
    TCounts Fill(const korvalin::TMidiFile& midi);
    void Clear();

    // The selected row, or none.
    QTreeWidgetItem* SelectedRow() const;
    // The track a row points at.
    static korvalin::TMidiTrack* RowTrack(const QTreeWidgetItem* item);
    // The ticked rows' tracks in list order.
    std::vector<const korvalin::TMidiTrack*> TickedTracks() const;
    // The tracks of another reading of the same file (a rewritten copy) that
    // match the ticked rows, given the rows' part names and clefs.
    std::vector<const korvalin::TMidiTrack*> TickedCounterparts(korvalin::TMidiFile& other) const;
    void SetAllChecked(bool value);

    // Shows the selected track in the editors, or empties them.
    void ShowSettings();
    // The editors' texts went into the selected track (no-ops while the
    // editors are being filled or no row is selected).
    void PartNameChanged();
    void ClefChanged();
    // True while the editors are being filled from a track.
    bool Editing() const { return FEditing; }

private:
    void UpdateRow(QTreeWidgetItem* item, const korvalin::TMidiTrack& track) const;
    void FillClefChoices();

    TControls FControls;
    bool FEnglish = false;
    bool FEditing = false;
};
