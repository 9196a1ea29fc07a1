#pragma once

// The performance stage of readable notation. A file played freely (no click,
// one default tempo, its ticks unrelated to the music) is read from its sound:
// the beat the player followed, where the bars begin and in what meter, and
// the key. The notes are then re-timed onto those beats, so that the readable
// steps write them as on any score. Each step hands the next a typed result,
// so that a wrong bar line can be traced to the step and the evidence.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "MidiParser.h"
#include "PerformanceOptions.h"
#include "ScoreTimeline.h"

namespace korvalin {

// One played note in seconds, as heard.
struct TPlayedNote {
    double Start = 0.0;
    double End = 0.0;
    std::int32_t Pitch = 0;
    std::int32_t Velocity = 0;
    bool Drum = false;
};

// Notes that start together (a chord, a spread of a few milliseconds), as one
// event of the rhythm.
struct TPlayedOnset {
    double Seconds = 0.0;
    double Weight = 0.0;   // loudness and length of its notes together
    double Longest = 0.0;  // the longest note's length, seconds
    std::int32_t Lowest = 127;
    std::int32_t Notes = 0;
};

// The beat the player followed: the time of every beat, in order.
struct TBeatTrack {
    std::vector<double> Times;
    double Confidence = 0.0;  // 0..1: the share of beats the notes confirm
};

// The meter written over the beats and where the bars begin.
struct TFoundMeter {
    std::int32_t Beats = 4;  // of the time signature: 4 in 4/4, 6 in 6/8
    std::int32_t BeatType = 4;
    std::int32_t BeatsPerBar = 4;   // counted beats: 2 in 6/8
    bool Compound = false;          // a counted beat of three eighths
    std::size_t FirstDownbeat = 0;  // index into the beats
    // The counted beat of every found beat, 0 at the first downbeat: one more
    // each beat, except where the player held a beat (a fermata, found as an
    // extra beat: half a count) or the tracker skipped one (two counts).
    std::vector<double> Counts;
    double Confidence = 0.0;
};

// A key and the beat from which it holds.
struct TFoundKey {
    std::size_t FromBeat = 0;
    std::int32_t Fifths = 0;
    bool Minor = false;
};

// Everything the stage found, for the score and for the report.
struct TPerformanceAnalysis {
    TBeatTrack Beats;
    TFoundMeter Meter;
    std::vector<TFoundKey> Keys;  // the first from beat 0
    double SlowestBpm = 0.0;      // of the counted beat, over a bar or more
    double FastestBpm = 0.0;
    double Confidence = 0.0;
};

// The file re-timed on the found beats: a fixed number of ticks per beat,
// time and key signatures where the stage put them, tempo marks where the
// tempo moves lastingly. `Parts` are in the order of the tracks given.
struct TRetimedPerformance {
    TMidiFile File;
    std::vector<std::unique_ptr<TMidiTrack>> Tracks;
    std::vector<const TMidiTrack*> Parts;
    TPerformanceAnalysis Analysis;
    // Each found beat's tick in File and in the file played, so that what is
    // played can be followed in the score written on the beats.
    TTickMap PlayedTicks;
};

// Timing (PerformanceTiming.cpp)
// Whether the file's notes fall on its own grid of ticks (binary or triplet),
// as an entered score's do: most onsets on it.
bool FollowsItsGrid(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks);
// The notes of `tracks` in seconds through the file's tempo map, by start.
std::vector<TPlayedNote> NotesInSeconds(const TMidiFile& midi, std::span<const TMidiTrack* const> tracks);
// The notes that start within a few milliseconds of each other, merged.
std::vector<TPlayedOnset> GroupOnsets(std::span<const TPlayedNote> notes);
// Whether the onsets are one performance's, dense and short enough to have a
// beat worth finding.
bool HasABeatToFollow(std::span<const TPlayedOnset> onsets);
// The stage as a whole: nothing when it should not run (the file follows its
// grid, or the options keep the file's timing).
std::unique_ptr<TRetimedPerformance> PreparePerformance(const TMidiFile& midi,
                                                        std::span<const TMidiTrack* const> tracks,
                                                        const TPerformanceOptions& options);

// The counted beat at `seconds`, between the found beats around it, and the
// time of a counted beat.
double CountAt(const TBeatTrack& beats, const TFoundMeter& meter, double seconds);
double TimeOfCount(const TBeatTrack& beats, const TFoundMeter& meter, double count);

// Beats (PerformanceBeats.cpp)
TBeatTrack TrackBeats(std::span<const TPlayedOnset> onsets, const TPerformanceOptions& options);

// Meter (PerformanceMeter.cpp)
TFoundMeter FindMeter(std::span<const TPlayedNote> notes, std::span<const TPlayedOnset> onsets, const TBeatTrack& beats,
                      const TPerformanceOptions& options);

// Key (PerformanceKey.cpp)
std::vector<TFoundKey> FindKeys(std::span<const TPlayedNote> notes, const TBeatTrack& beats, const TFoundMeter& meter);

}  // namespace korvalin
