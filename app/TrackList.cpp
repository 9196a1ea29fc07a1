// The track list: rows from the loaded file, ticks, and the selected track's
// part name and clef.

#include "TrackList.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

#include "MainFormSupport.h"

using korvalin::TClefMode;
using korvalin::TMidiTrack;
using korvalin::mainform::FromUtf8;
using korvalin::mainform::TFlagGuard;
using korvalin::mainform::TUpdatesSuspended;

QString TTrackList::ClefDisplayName(TClefMode mode, bool english) {
    switch (mode) {
        case TClefMode::cmTreble: return english ? QStringLiteral("Treble") : QStringLiteral("Скрипичный");
        case TClefMode::cmBass: return english ? QStringLiteral("Bass") : QStringLiteral("Басовый");
        default: return english ? QStringLiteral("Automatic") : QStringLiteral("Автоматически");
    }
}

void TTrackList::SetEnglish(bool english) {
    FEnglish = english;
    FillClefChoices();
    for (int i = 0; i < FControls.List->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = FControls.List->topLevelItem(i);
        if (const TMidiTrack* track = RowTrack(item)) UpdateRow(item, *track);
    }
}

void TTrackList::FillClefChoices() {
    // Refilling is not an edit: the selected track keeps its clef.
    const int clefIndex = FControls.Clef->currentIndex();
    const TFlagGuard editing(FEditing);
    const TUpdatesSuspended suspended(FControls.Clef);
    FControls.Clef->clear();
    FControls.Clef->addItems({ClefDisplayName(TClefMode::cmAuto, FEnglish),
                              ClefDisplayName(TClefMode::cmTreble, FEnglish),
                              ClefDisplayName(TClefMode::cmBass, FEnglish)});
    FControls.Clef->setCurrentIndex(clefIndex);
}

TTrackList::TCounts TTrackList::Fill(const korvalin::TMidiFile& midi) {
    TCounts counts;
    {
        const TUpdatesSuspended suspended(FControls.List);
        FControls.List->clear();
        for (const auto& track : midi.Tracks()) {
            if (track->Notes().empty()) {
                ++counts.ServiceTracks;
                continue;
            }
            ++counts.Parts;
            auto* item = new QTreeWidgetItem;
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setText(0, QString::number(track->Index));
            item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(track.get())));
            item->setCheckState(0, Qt::Checked);
            item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
            FControls.List->addTopLevelItem(item);
            UpdateRow(item, *track);
        }
        if (FControls.List->topLevelItemCount() > 0) FControls.List->setCurrentItem(FControls.List->topLevelItem(0));
    }
    ShowSettings();
    return counts;
}

void TTrackList::Clear() { FControls.List->clear(); }

void TTrackList::UpdateRow(QTreeWidgetItem* item, const TMidiTrack& track) const {
    item->setText(1, korvalin::mainform::DisplayName(track.ExportName));
    item->setText(2, QString::number(track.Notes().size()));
    item->setText(3, FromUtf8(korvalin::PitchName(track.MinPitch())) + QStringLiteral(" – ") +
                         FromUtf8(korvalin::PitchName(track.MaxPitch())));
    item->setText(4, ClefDisplayName(track.ClefMode, FEnglish));
}

QTreeWidgetItem* TTrackList::SelectedRow() const { return FControls.List->selectedItems().value(0, nullptr); }

TMidiTrack* TTrackList::RowTrack(const QTreeWidgetItem* item) {
    if (item == nullptr) return nullptr;
    return reinterpret_cast<TMidiTrack*>(item->data(0, Qt::UserRole).value<quintptr>());
}

std::vector<const TMidiTrack*> TTrackList::TickedTracks() const {
    std::vector<const TMidiTrack*> tracks;
    for (int i = 0; i < FControls.List->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = FControls.List->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked) tracks.push_back(RowTrack(item));
    }
    return tracks;
}

std::vector<const TMidiTrack*> TTrackList::TickedCounterparts(korvalin::TMidiFile& other) const {
    std::vector<const TMidiTrack*> tracks;
    for (const TMidiTrack* rowTrack : TickedTracks()) {
        if (rowTrack == nullptr) continue;
        for (const auto& track : other.Tracks()) {
            if (track->Index != rowTrack->Index || track->Notes().empty()) continue;
            track->ExportName = rowTrack->ExportName;
            track->ClefMode = rowTrack->ClefMode;
            tracks.push_back(track.get());
            break;
        }
    }
    return tracks;
}

void TTrackList::SetAllChecked(bool value) {
    for (int i = 0; i < FControls.List->topLevelItemCount(); ++i)
        FControls.List->topLevelItem(i)->setCheckState(0, value ? Qt::Checked : Qt::Unchecked);
}

void TTrackList::ShowSettings() {
    const TFlagGuard editing(FEditing);
    const QTreeWidgetItem* row = SelectedRow();
    FControls.SettingsPanel->setEnabled(row != nullptr);
    if (const TMidiTrack* track = RowTrack(row)) {
        FControls.PartName->setText(korvalin::mainform::DisplayName(track->ExportName));
        FControls.Clef->setCurrentIndex(static_cast<int>(track->ClefMode));
    } else {
        FControls.PartName->clear();
        FControls.Clef->setCurrentIndex(0);
    }
}

void TTrackList::PartNameChanged() {
    if (FEditing) return;
    QTreeWidgetItem* row = SelectedRow();
    TMidiTrack* track = RowTrack(row);
    if (track == nullptr) return;
    track->ExportName = FControls.PartName->text().toStdString();
    UpdateRow(row, *track);
}

void TTrackList::ClefChanged() {
    if (FEditing) return;
    QTreeWidgetItem* row = SelectedRow();
    TMidiTrack* track = RowTrack(row);
    const int index = FControls.Clef->currentIndex();
    if (track == nullptr || index < 0) return;
    track->ClefMode = static_cast<TClefMode>(index);
    UpdateRow(row, *track);
}
