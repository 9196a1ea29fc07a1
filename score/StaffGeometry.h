#pragma once

// Where a written pitch stands on a five-line staff. Places are diatonic
// steps from C0 (C4 is 28), so a line and the space above it are one step
// apart and the distances that engraving measures are plain differences.

#include <string_view>

#include "ScoreModel.h"
#include "ScoreSpelling.h"

namespace korvalin {

constexpr int Diatonic(int octave, int step) { return octave * 7 + step; }
constexpr int Diatonic(const TSpelledPitch& pitch) { return Diatonic(pitch.Octave, pitch.Step); }
constexpr int Diatonic(const TScoreHead& head) { return Diatonic(head.Octave, head.Step); }

// The bottom, middle and top lines of a staff in its clef. The treble staff
// runs from E4 to F5 around B4, the bass staff from G2 to A3 around D3; a
// percussion staff is drawn as a treble one.
struct TStaffLines {
    int Bottom = 0;
    int Middle = 0;
    int Top = 0;
};

constexpr TStaffLines kTrebleLines{30, 34, 38};
constexpr TStaffLines kBassLines{18, 22, 26};

constexpr TStaffLines StaffLinesOf(std::string_view clef) { return clef == "F" ? kBassLines : kTrebleLines; }

// The line, counted from the bottom, that the clef's sign marks: G on the second, F on the fourth.
constexpr int ClefSignLine(std::string_view clef) { return clef == "F" ? 4 : 2; }

// The short lines a note at `diatonic` needs above or below the staff.
constexpr int LedgerLines(int diatonic, std::string_view clef) {
    const TStaffLines lines = StaffLinesOf(clef);
    if (diatonic >= lines.Top + 2) return (diatonic - lines.Top) / 2;
    if (diatonic <= lines.Bottom - 2) return (lines.Bottom - diatonic) / 2;
    return 0;
}

}  // namespace korvalin
