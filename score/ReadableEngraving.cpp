// Engraving of the readable notation: what a reader sees besides the values
// once the voices of a staff are in a measure. Beams, stems, where the rests
// stand, which tuplets need a bracket, and the accidentals.

#include <algorithm>

#include "ReadableSteps.h"
#include "StaffGeometry.h"

namespace korvalin {

void SetStemsByPosition(std::span<TScoreEvent> events, std::span<const TScoreHead> heads, std::string_view clef) {
    const int middle = StaffLinesOf(clef).Middle;
    std::size_t i = 0;
    while (i < events.size()) {
        std::size_t j = i + 1;
        if (events[i].Beams[0] == TBeam::bmBegin)
            while (j < events.size() && events[j - 1].Beams[0] != TBeam::bmEnd) ++j;
        int above = 0, below = 0;
        for (std::size_t k = i; k < j; ++k)
            for (std::uint32_t h = 0; h < events[k].HeadCount; ++h) {
                const int d = Diatonic(heads[events[k].FirstHead + h]) - middle;
                above = std::max(above, d);
                below = std::max(below, -d);
            }
        // A note on the middle line, or as far above as below, takes a stem down.
        const TStem stem = above >= below ? TStem::stDown : TStem::stUp;
        for (std::size_t k = i; k < j; ++k)
            if (!events[k].IsRest()) events[k].Stem = stem;
        i = j;
    }
}

void SetStemsOfVoice(std::span<TScoreEvent> events, bool upper) {
    for (auto& event : events)
        if (!event.IsRest()) event.Stem = upper ? TStem::stUp : TStem::stDown;
}

void PlaceRests(std::span<TScoreEvent> events, std::string_view clef, bool upper) {
    const int middle = StaffLinesOf(clef).Middle;
    for (auto& event : events) {
        if (!event.IsRest() || event.Hidden) continue;
        const bool hangsOrSits = event.MeasureRest || event.Type <= TNoteType::ntHalf;
        const int place = upper ? middle + (hangsOrSits ? kUpperLongRestAboveMiddle : kUpperRestAboveMiddle)
                                : middle - kLowerRestBelowMiddle;
        event.RestStep = static_cast<std::int8_t>(place % 7);
        event.RestOctave = static_cast<std::int8_t>(place / 7);
    }
}

void MarkTupletBrackets(std::span<TScoreEvent> events) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (!events[i].Tuplet.Start) continue;
        bool bracket = false;
        std::size_t j = i;
        for (; j < events.size(); ++j) {
            bracket = bracket || events[j].IsRest() || events[j].Beams[0] == TBeam::bmNone;
            if (events[j].Tuplet.Stop) break;
        }
        events[i].Tuplet.Bracket = bracket;
        i = j;
    }
}

void FinishStaff(TScorePart& part, std::size_t firstVoice, const TMeasureSlot& slot, std::string_view clef,
                 bool percussion, std::vector<std::int8_t>& carried) {
    const std::span<const TScoreVoice> voices(part.Voices.data() + firstVoice, part.Voices.size() - firstVoice);
    const auto eventsOf = [&](const TScoreVoice& voice) {
        return std::span<TScoreEvent>(part.Events.data() + voice.FirstEvent, voice.EventCount);
    };
    std::size_t sounding = 0;
    for (const auto& voice : voices) {
        const std::span<TScoreEvent> events = eventsOf(voice);
        SetBeams(slot.Meter, events);
        MarkTupletBrackets(events);
        if (std::any_of(events.begin(), events.end(), [](const TScoreEvent& e) { return !e.IsRest(); })) ++sounding;
    }
    for (const auto& voice : voices) {
        const std::span<TScoreEvent> events = eventsOf(voice);
        // Voices 1 and 3 of a staff are its upper ones, 2 and 4 its lower ones.
        const bool upper = (voice.Number - 1) % kVoicesPerStaff % 2 == 0;
        if (percussion || sounding > 1) SetStemsOfVoice(events, upper);
        else SetStemsByPosition(events, part.Heads, clef);
        for (auto& event : events)
            if (event.Type <= TNoteType::ntWhole) event.Stem = TStem::stNone;
        if (voices.size() > 1) PlaceRests(events, clef, upper);
    }
    if (!percussion) SetAccidentals(part, voices, slot.Key, carried);
}

}  // namespace korvalin
