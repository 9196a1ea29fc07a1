#pragma once

// The steps of the readable notation and what they hand each other: the notes
// of one part in score units, the measures with their meter and key, and the
// choices each step adds (staff, voice, spelling, clef).

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "MidiParser.h"
#include "ScoreModel.h"
#include "ScoreSpelling.h"

namespace korvalin {

// Division rounding down, also for places before their origin and flats below C.
template <typename T>
constexpr T FloorDiv(T a, T b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

enum class TReadableStaves { rsSingle, rsGrand, rsPercussion };

// Voices written on one staff at most; further ones share the last.
constexpr std::int32_t kVoicesPerStaff = 4;

// One note of a part after quantisation, in score units.
struct TPartNote {
    TScoreTime Start = 0;
    TScoreTime End = 0;
    std::int32_t Pitch = 0;
    std::int32_t Staff = 1;  // 1 upper, 2 lower
    std::int32_t Voice = 0;  // within its staff, from 0
    TSpelledPitch Spelled;
    std::int32_t Instrument = -1;  // drums: index into the part's instruments
    TNotehead Notehead = TNotehead::nhNormal;
    std::int64_t RawStart = 0;  // as played, in ticks
    std::int64_t RawEnd = 0;
};

// A tuplet of one voice of one staff over [Start, End): `Actual` notes in the
// time of `Normal` notes of `NormalType`.
struct TTupletSpan {
    TScoreTime Start = 0;
    TScoreTime End = 0;
    std::int32_t Staff = 1;
    std::int32_t Voice = 0;
    std::uint8_t Actual = 0;
    std::uint8_t Normal = 0;
    TNoteType NormalType = TNoteType::ntEighth;
};

// How a measure divides: its beats and the groups of beats that must stay
// visible, from which every boundary inside it has a strength.
struct TMeter {
    TScoreTime Length = 0;
    bool Compound = false;                // beats of three parts (6/8, 9/8, 12/8)
    std::vector<TScoreTime> BeatStarts;   // offsets, the first is 0
    std::vector<TScoreTime> GroupStarts;  // offsets of the stronger groups, the first is 0
    TScoreTime UnitsPerWhole = 0;

    TScoreTime BeatAt(TScoreTime offset) const;  // start of the beat holding the offset
    TScoreTime BeatLengthAt(TScoreTime offset) const;
    TScoreTime GroupAt(TScoreTime offset) const;
    TScoreTime GroupLengthAt(TScoreTime offset) const;
};

TMeter MakeMeter(std::int32_t beats, std::int32_t beatType, TScoreTime unitsPerWhole);

struct TMeasureSlot {
    TScoreTime Start = 0;
    TScoreTime Length = 0;
    bool Implicit = false;  // a pickup: shorter than its signature, not counted
    TScoreTimeSignature Time;
    bool TimeChanged = false;  // the signature is written here
    TScoreKey Key;
    bool KeyChanged = false;
    TMeter Meter;
};

// The measures of the whole score, shared by every part.
struct TMeasureMap {
    std::vector<TMeasureSlot> Measures;
    TScoreTime UnitsPerWhole = 0;

    std::size_t IndexAt(TScoreTime time) const;  // the measure holding the time
    // The same, looking first at `hint` and after it, where a walk in time order
    // finds it; `hint` moves to the answer.
    std::size_t IndexAt(TScoreTime time, std::size_t& hint) const;
};

// Score units for the grid: a whole note is `UnitsPerWhole` units, enough for
// the grid and every time signature of the file.
struct TUnitScale {
    TScoreTime UnitsPerWhole = 0;
    std::int64_t TicksPerStep = 1;  // the grid step in ticks
    TScoreTime UnitsPerStep = 1;
    std::int64_t TicksPerQuarter = 1;  // the file's

    TScoreTime FromTick(std::int64_t quantisedTick) const { return quantisedTick / TicksPerStep * UnitsPerStep; }
};

// A written value: a plain or dotted note value at an offset in its measure.
struct TWrittenValue {
    TScoreTime Offset = 0;
    TScoreTime Duration = 0;
    TNoteType Type = TNoteType::ntQuarter;
    std::uint8_t Dots = 0;
    TScoreTuplet Tuplet;  // inside a tuplet: its ratio
};

// Where the measures begin: the first one at `Start`, and when it is a pickup
// (a short first measure), the regular bar lines `PickupLength` later.
struct TMeasureStart {
    TScoreTime Start = 0;
    TScoreTime PickupLength = 0;  // 0: the first measure is a full one
};

// A change of meter where the readable measures take it: on the grid.
struct TMeterChange {
    TScoreTime At = 0;
    TScoreTimeSignature Time;
};

// Meter and measures (ReadableMeter.cpp)
TUnitScale MakeUnitScale(const TMidiFile& midi, std::int32_t grid);
// The file's changes of meter that can be written, in time order.
std::vector<TMeterChange> ReadableMeterChanges(const TMidiFile& midi, const TUnitScale& scale);
// The meter before the first of `changes`.
TScoreTimeSignature OpeningSignature(const TMidiFile& midi, std::span<const TMeterChange> changes);
// Refuses the score when it would take more than `measureLimit` measures. A
// file that writes its pickup as a short bar of its own signature (1/4 before
// 4/4) gets an implicit first measure in the following meter.
TMeasureMap BuildMeasureMap(const TMidiFile& midi, const TUnitScale& scale, TScoreTime scoreEnd,
                            std::int64_t measureLimit, const TMeasureStart& start = {});
// The meter of a pickup `length` long: the end of a bar of `full`.
TMeter PickupMeter(const TMeter& full, TScoreTime length);

// Pickup (ReadablePickup.cpp): where the bar lines fall. The file's own, unless
// the music clearly starts with an incomplete bar: then the first measure is a
// pickup and the bar lines fall where the music's accents are. Music played
// freely, off the grid, keeps the file's bar lines.
TMeasureStart FindMeasureStart(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks,
                               const TUnitScale& scale);
// Whether a played tick is near a point of the binary grid or of a triplet
// grid: of the grid's own step, of eighths or of sixteenths.
bool OnSomeGrid(std::int64_t tick, std::int64_t ppqn, std::int64_t ticksPerStep);
// Cuts [start, end) of one measure into values that show the beat.
void SplitIntoValues(const TMeter& meter, TScoreTime start, TScoreTime end, bool rest, std::vector<TWrittenValue>& out);
// Beams for the events of one voice in one measure, in time order.
void SetBeams(const TMeter& meter, std::span<TScoreEvent> events);

// The steps below that take a part's notes expect them by start, then pitch,
// as the quantisation leaves them, and keep that order.

// Staves (ReadableStaves.cpp)
TReadableStaves ClassifyTrack(const TMidiTrack& track);
// Whether two tracks, in this order, are the right and the left hand of one
// keyboard: by their names, or by their sound, range and time together.
bool PlayedAsTwoHands(const TMidiTrack& upper, const TMidiTrack& lower);
// Gives every note a hand: 1 for the right, 2 for the left.
void SplitHands(std::vector<TPartNote>& notes, TScoreTime unitsPerQuarter);
// The clef of each measure of one staff ("G" or "F"), changing only for a
// passage; an empty `preferred` lets the notes choose the opening clef.
std::vector<std::string_view> ChooseClefs(const std::vector<TPartNote>& notes, std::int32_t staff,
                                          const TMeasureMap& map, std::string_view preferred);

// Voices (ReadableVoices.cpp): gives every note of one staff its voice, and may
// shorten a note whose end only overlaps the next one as played. The notes of
// a part `asPerformed` (its times off the grid) also reach to the next note of
// their voice over a short silence, which was the player's, not the music's;
// those of a part on the grid take back the value a detached note was played
// at half of.
void AssignVoices(std::vector<TPartNote>& notes, std::int32_t staff, const TMeasureMap& map, TScoreTime step,
                  TScoreTime unitsPerQuarter, bool asPerformed);
// Whether the track was played rather than entered: most of its notes start
// or end away from the grid and from its triplets.
bool PlayedOffTheGrid(const TMidiTrack& track, const TUnitScale& scale);

// Spelling (ReadableSpelling.cpp)
void SpellNotes(std::vector<TPartNote>& notes, const TMeasureMap& map);
// Accidentals for the heads of one staff in one measure; `carried` holds what
// the measure before left altered, for courtesy signs.
void SetAccidentals(TScorePart& part, std::span<const TScoreVoice> voices, const TScoreKey& key,
                    std::vector<std::int8_t>& carried);

// Drums (ReadableDrums.cpp): instruments of the part and the place of every note.
void MapDrums(std::vector<TPartNote>& notes, TScorePart& part, std::int32_t partNumber);
bool IsFootDrum(std::int32_t pitch);
// Each hit lasts until the next one of its voice, to the end of its beat at most.
void SetDrumDurations(std::vector<TPartNote>& notes, const TMeasureMap& map);

// Tuplets (ReadableTuplets.cpp)
// Places a played note before its voice's tuplets are known: start and end on
// the nearest point of the grid or of the triplets it allows, so that voices
// are told apart as they were played. The tuplets take the same place again
// to see which ends a later step moved.
struct TPlacedSpan {
    TScoreTime Start = 0;
    TScoreTime End = 0;
};
TPlacedSpan PlaceProvisionally(std::int64_t startTick, std::int64_t endTick, const TUnitScale& scale);
// Moves the notes of every voice, beat by beat, from the binary grid onto a
// tuplet grid where that explains the played onsets and ends clearly better;
// returns the tuplets, by staff, voice and time. Keeps the notes' order. A
// drum's ends say nothing (`withEnds` false). A part played freely
// (`asPerformed`) needs clearer evidence for a tuplet.
std::vector<TTupletSpan> PlaceTuplets(std::vector<TPartNote>& notes, const TMeasureMap& map, const TUnitScale& scale,
                                      bool withEnds, bool asPerformed);
// Moves an end that falls inside a tuplet of its voice (by staff, voice and
// time in `spans`) back onto the tuplet's points.
void FitEndsToTuplets(std::vector<TPartNote>& notes, std::span<const TTupletSpan> spans);
// Cuts [start, end) inside a tuplet (offsets in its measure) into its written
// values; false when the piece does not fall on the tuplet's own points.
bool SplitTupletValues(const TTupletSpan& span, TScoreTime measureStart, TScoreTime start, TScoreTime end,
                       std::vector<TWrittenValue>& out);
// How well each of the grids 1/8, 1/16 and 1/32 (with the tuplets it allows)
// explains the onsets of one part: the number of onsets each would move by
// more than `tolerance` ticks.
struct TGridFit {
    std::int32_t Grid = 16;
    std::size_t Onsets = 0;
    std::size_t Moved = 0;
    std::size_t Near = 0;  // moved by more than half the tolerance
};
std::vector<TGridFit> FitGrids(const TMidiTrack& track, const TMeasureMap& map, std::int64_t ppqn,
                               std::int64_t tolerance);
// The automatic grid of one part: the coarsest that, with its tuplets, moves
// hardly more onsets noticeably than the finest; for a part played freely
// (the finest moves many), 1/16.
std::int32_t ChooseGrid(const TMidiTrack& track, const TMeasureMap& map, std::int64_t ppqn);

// Engraving (ReadableEngraving.cpp), on the events of one voice in one measure
// unless said otherwise. With two voices on a staff the rests of each stand
// clear of the other: the upper voice's by the top line, the lower's by the
// bottom one. A whole or half rest hangs from or sits on a line, so the upper
// voice's take the fourth line to stay inside the staff.
constexpr int kUpperRestAboveMiddle = 4, kUpperLongRestAboveMiddle = 2, kLowerRestBelowMiddle = 4;
// A voice alone on its staff points its stems away from the note farthest from
// the middle line; a beamed group takes one direction for all its notes.
void SetStemsByPosition(std::span<TScoreEvent> events, std::span<const TScoreHead> heads, std::string_view clef);
// With two voices sounding on a staff the upper one's stems go up, the lower one's down.
void SetStemsOfVoice(std::span<TScoreEvent> events, bool upper);
// Places the shown rests of one of several voices on a staff (`upper`: voice 1 or 3).
void PlaceRests(std::span<TScoreEvent> events, std::string_view clef, bool upper);
// A tuplet shows its bracket when a rest or an unbeamed note is inside:
// otherwise the beam already shows what the number belongs to.
void MarkTupletBrackets(std::span<TScoreEvent> events);
// Beams, brackets, stems, rests and accidentals of one staff in one measure,
// once every voice of it is in: the part's voices from `firstVoice` on. A
// percussion staff (`percussion`) always stems by voice and takes no
// accidentals; `carried` as for SetAccidentals.
void FinishStaff(TScorePart& part, std::size_t firstVoice, const TMeasureSlot& slot, std::string_view clef,
                 bool percussion, std::vector<std::int8_t>& carried);

// Measures (ReadableMeasures.cpp). What the steps above hand to the measures:
// the part's notes with their staff, voice, spelling and place, its tuplets by
// staff, voice and time, and the clef of every staff (outer) in every measure.
struct TPartStages {
    const std::vector<TPartNote>& Notes;
    const std::vector<TTupletSpan>& Tuplets;
    const std::vector<std::vector<std::string_view>>& Clefs;
    bool Percussion = false;
};
class TNoteElementBudget;
// Fills every measure of the part, and the tempo marks of `tempos` (the file's
// tempo and each change, by place; only the first part's).
void WriteMeasures(TScorePart& part, const TMeasureMap& map, const TPartStages& stages,
                   const std::vector<std::pair<TScoreTime, double>>* tempos, TNoteElementBudget& budget);

// Names (ReadableNames.cpp)
std::string ReadablePartName(const TMidiTrack& track);
// Whether two parts are the right and the left hand of one instrument, by
// their names ("Piano right" and "Piano left", "Piano RH" and "Piano LH").
bool AreTwoHands(std::string_view first, std::string_view second);
// Whether a track's name says it holds one hand of a keyboard ("Piano left").
bool NamesOneHand(std::string_view name);
// Whether a track's name names an instrument other than a keyboard ("Flute", "Bass").
bool NamesAnInstrument(std::string_view name);
// Lower case for Latin and Cyrillic letters, for matching names.
std::string LowercaseName(std::string_view name);
std::string PartAbbreviation(std::string_view name, TReadableStaves staves);

}  // namespace korvalin
