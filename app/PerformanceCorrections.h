// The corrections a user makes to what readable notation finds in a file
// played freely: the meter, and where the first downbeat sounds (with the
// tempo there). Two small controls beside the notation choice; they count
// only for readable notation, and belong to the file they were made for.

#pragma once

#include <QString>

#include "PerformanceOptions.h"
#include "ScoreReport.h"

class QComboBox;
class QLineEdit;

class TPerformanceCorrections {
public:
    struct TControls {
        QComboBox* Meter = nullptr;
        QLineEdit* FirstBeat = nullptr;
    };

    explicit TPerformanceCorrections(const TControls& controls);

    // The meters offered after "Auto", in the order shown.
    static const QStringList& Meters();

    // "Auto" and the hint in the given language; the choice stays.
    void SetEnglish(bool english);
    // Back to what the stage finds by itself: for a newly opened file.
    void Reset();
    // Usable only while readable notation is chosen.
    void SetReadable(bool readable);

    // The corrections as the export takes them. A first beat that does not
    // read gives Problem(), and no correction of it.
    korvalin::TPerformanceOptions Options() const;
    // Why the first-beat text cannot be used, in the current language; empty when it can.
    QString Problem() const;

    // What the stage found, for the status line: " · played freely: 3/4,
    // D major, 66–92 beats a minute, sure 80%"; empty when it did not run.
    static QString Summary(const korvalin::TPerformanceReport& found, bool english);

private:
    TControls FControls;
    bool FEnglish = false;
};
