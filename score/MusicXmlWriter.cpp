// The score model written as MusicXML text: divisions, attributes,
// directions, notes, rests, beams and tuplets, in the order the format wants.

#include "MusicXmlWriter.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace korvalin {
namespace {

constexpr std::string_view kStepLetters[7] = {"C", "D", "E", "F", "G", "A", "B"};

std::string_view AccidentalName(TAccidental accidental) {
    switch (accidental) {
        case TAccidental::acSharp: return "sharp";
        case TAccidental::acFlat: return "flat";
        case TAccidental::acNatural: return "natural";
        case TAccidental::acDoubleSharp: return "double-sharp";
        case TAccidental::acFlatFlat: return "flat-flat";
        case TAccidental::acNone: break;
    }
    return {};
}

std::string_view BeamName(TBeam beam) {
    switch (beam) {
        case TBeam::bmBegin: return "begin";
        case TBeam::bmContinue: return "continue";
        case TBeam::bmEnd: return "end";
        case TBeam::bmForwardHook: return "forward hook";
        case TBeam::bmBackwardHook: return "backward hook";
        case TBeam::bmNone: break;
    }
    return {};
}

std::string_view NoteheadName(TNotehead notehead) {
    switch (notehead) {
        case TNotehead::nhX: return "x";
        case TNotehead::nhCircleX: return "circle-x";
        case TNotehead::nhDiamond: return "diamond";
        case TNotehead::nhTriangle: return "triangle";
        case TNotehead::nhNormal: break;
    }
    return "normal";
}

void PutEscaped(TTextBuffer& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::string_view entity;
        switch (text[i]) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\'': entity = "&apos;"; break;
            default: continue;
        }
        out.Put(text.substr(from, i - from));
        out.Put(entity);
        from = i + 1;
    }
    out.Put(text.substr(from));
}

// The divisions that make every written time whole: the score's unit as it
// stands, or reduced by what all its times have in common.
std::int64_t CommonFactor(const TScore& score) {
    if (score.KeepUnitAsDivisions) return 1;
    std::int64_t factor = score.UnitsPerQuarter;
    for (const auto& part : score.Parts) {
        for (const auto& measure : part.Measures) {
            factor = std::gcd(factor, measure.Length);
            for (const auto& tempo : measure.Tempos) factor = std::gcd(factor, tempo.Offset);
        }
        for (const auto& event : part.Events) factor = std::gcd(std::gcd(factor, event.Offset), event.Duration);
        if (factor == 1) break;
    }
    return factor > 0 ? factor : 1;
}

class TWriter {
public:
    TWriter(const TScore& score, TTextBuffer& out) : FScore(score), FOut(out), FFactor(CommonFactor(score)) {}

    void Document() {
        FOut.Lit("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n");
        FOut.Lit(
            "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
            "\"http://www.musicxml.org/dtds/partwise.dtd\">\r\n");
        FOut.Lit("<score-partwise version=\"4.0\">\r\n");
        FOut.Lit("  <work><work-title>");
        PutEscaped(FOut, DropCharactersXmlForbids(FScore.Title));
        FOut.Lit("</work-title></work>\r\n");
        FOut.Lit("  <identification>\r\n");
        FOut.Lit("    <encoding><software>Korvalin</software></encoding>\r\n");
        FOut.Lit("  </identification>\r\n");
        FOut.Lit("  <part-list>\r\n");
        for (std::size_t i = 0; i < FScore.Parts.size(); ++i) {
            GroupMarks(i, true);
            ScorePart(FScore.Parts[i], static_cast<std::int64_t>(i) + 1);
            GroupMarks(i, false);
        }
        FOut.Lit("  </part-list>\r\n");
        for (std::size_t i = 0; i < FScore.Parts.size(); ++i) Part(FScore.Parts[i], static_cast<std::int64_t>(i) + 1);
        FOut.Lit("</score-partwise>\r\n");
    }

private:
    void Time(TScoreTime value) { FOut.Int(value / FFactor); }

    // The starts of the groups that open at part `index`, or the stops of those that close there.
    void GroupMarks(std::size_t index, bool starts) {
        for (std::size_t g = 0; g < FScore.PartGroups.size(); ++g) {
            const TScorePartGroup& group = FScore.PartGroups[g];
            if ((starts ? group.FirstPart : group.LastPart) != index) continue;
            FOut.Lit("    <part-group type=\"");
            FOut.Put(starts ? "start" : "stop");
            FOut.Lit("\" number=\"");
            FOut.Int(static_cast<std::int64_t>(g) + 1);
            if (!starts) {
                FOut.Lit("\"/>\r\n");
                continue;
            }
            FOut.Lit("\">\r\n      <group-symbol>");
            FOut.Put(group.Symbol);
            FOut.Lit("</group-symbol>\r\n    </part-group>\r\n");
        }
    }

    void ScorePart(const TScorePart& part, std::int64_t number) {
        FOut.Lit("    <score-part id=\"P");
        FOut.Int(number);
        FOut.Lit("\">\r\n      <part-name>");
        PutEscaped(FOut, DropCharactersXmlForbids(part.Name));
        FOut.Lit("</part-name>\r\n");
        if (!part.Abbreviation.empty()) {
            FOut.Lit("      <part-abbreviation>");
            PutEscaped(FOut, DropCharactersXmlForbids(part.Abbreviation));
            FOut.Lit("</part-abbreviation>\r\n");
        }
        for (const auto& instrument : part.Instruments) {
            FOut.Lit("      <score-instrument id=\"");
            PutEscaped(FOut, instrument.Id);
            FOut.Lit("\">\r\n        <instrument-name>");
            PutEscaped(FOut, DropCharactersXmlForbids(instrument.Name));
            FOut.Lit("</instrument-name>\r\n      </score-instrument>\r\n");
        }
        for (const auto& instrument : part.Instruments) {
            if (instrument.MidiChannel <= 0 && instrument.MidiUnpitched <= 0) continue;
            FOut.Lit("      <midi-instrument id=\"");
            PutEscaped(FOut, instrument.Id);
            FOut.Lit("\">\r\n");
            if (instrument.MidiChannel > 0) {
                FOut.Lit("        <midi-channel>");
                FOut.Int(instrument.MidiChannel);
                FOut.Lit("</midi-channel>\r\n");
            }
            if (instrument.MidiUnpitched > 0) {
                FOut.Lit("        <midi-unpitched>");
                FOut.Int(instrument.MidiUnpitched);
                FOut.Lit("</midi-unpitched>\r\n");
            }
            FOut.Lit("      </midi-instrument>\r\n");
        }
        FOut.Lit("    </score-part>\r\n");
    }

    void Part(const TScorePart& part, std::int64_t number) {
        FOut.Lit("  <part id=\"P");
        FOut.Int(number);
        FOut.Lit("\">\r\n");
        for (const auto& measure : part.Measures) Measure(part, measure);
        FOut.Lit("  </part>\r\n");
    }

    void Measure(const TScorePart& part, const TScoreMeasure& measure) {
        FOut.Lit("    <measure number=\"");
        PutEscaped(FOut, measure.Number);
        if (measure.Implicit) FOut.Lit("\" implicit=\"yes");
        FOut.Lit("\">\r\n");
        Attributes(part, measure);
        for (const auto& tempo : measure.Tempos) Tempo(tempo);
        TScoreTime position = 0;
        for (std::uint32_t v = 0; v < measure.VoiceCount; ++v) {
            const TScoreVoice& voice = part.Voices[measure.FirstVoice + v];
            if (v > 0 && position > 0) {
                FOut.Lit("      <backup>\r\n        <duration>");
                Time(position);
                FOut.Lit("</duration>\r\n      </backup>\r\n");
                position = 0;
            }
            for (std::uint32_t e = 0; e < voice.EventCount; ++e) {
                const TScoreEvent& event = part.Events[voice.FirstEvent + e];
                if (event.Offset > position) Forward(event.Offset - position, voice, part.Staves > 1);
                Event(part, event, voice);
                position = event.Offset + event.Duration;
            }
        }
        FOut.Lit("    </measure>\r\n");
    }

    void Attributes(const TScorePart& part, const TScoreMeasure& measure) {
        if (!measure.WriteDivisions && !measure.HasKey && !measure.HasTime && !measure.WriteStaves &&
            measure.Clefs.empty())
            return;
        FOut.Lit("      <attributes>\r\n");
        if (measure.WriteDivisions) {
            FOut.Lit("        <divisions>");
            Time(FScore.UnitsPerQuarter);
            FOut.Lit("</divisions>\r\n");
        }
        if (measure.HasKey) {
            FOut.Lit("        <key>\r\n          <fifths>");
            FOut.Int(measure.Key.Fifths);
            FOut.Lit("</fifths>\r\n");
            if (measure.Key.Minor) FOut.Lit("          <mode>minor</mode>\r\n");
            else FOut.Lit("          <mode>major</mode>\r\n");
            FOut.Lit("        </key>\r\n");
        }
        if (measure.HasTime) {
            FOut.Lit("        <time>\r\n          <beats>");
            FOut.Int(measure.Time.Beats);
            FOut.Lit("</beats>\r\n          <beat-type>");
            FOut.Int(measure.Time.BeatType);
            FOut.Lit("</beat-type>\r\n        </time>\r\n");
        }
        if (measure.WriteStaves) {
            FOut.Lit("        <staves>");
            FOut.Int(part.Staves);
            FOut.Lit("</staves>\r\n");
        }
        for (const auto& clef : measure.Clefs) {
            if (clef.Staff > 0) {
                FOut.Lit("        <clef number=\"");
                FOut.Int(clef.Staff);
                FOut.Lit("\">\r\n");
            } else {
                FOut.Lit("        <clef>\r\n");
            }
            FOut.Lit("          <sign>");
            FOut.Put(clef.Sign);
            FOut.Lit("</sign>\r\n");
            if (clef.Line > 0) {
                FOut.Lit("          <line>");
                FOut.Int(clef.Line);
                FOut.Lit("</line>\r\n");
            }
            FOut.Lit("        </clef>\r\n");
        }
        FOut.Lit("      </attributes>\r\n");
    }

    void Tempo(const TScoreTempo& tempo) {
        FOut.Lit("      <direction placement=\"above\">\r\n");
        FOut.Lit("        <direction-type><metronome>\r\n");
        FOut.Lit("          <beat-unit>");
        FOut.Put(NoteTypeName(tempo.BeatUnit));
        FOut.Lit("</beat-unit>\r\n");
        if (tempo.BeatUnitDot) FOut.Lit("          <beat-unit-dot/>\r\n");
        FOut.Lit("          <per-minute>");
        PutEscaped(FOut, tempo.PerMinute);
        FOut.Lit("</per-minute>\r\n");
        FOut.Lit("        </metronome></direction-type>\r\n");
        if (tempo.Offset > 0) {
            FOut.Lit("        <offset>");
            Time(tempo.Offset);
            FOut.Lit("</offset>\r\n");
        }
        FOut.Lit("        <sound tempo=\"");
        PutEscaped(FOut, tempo.Sound);
        FOut.Lit("\"/>\r\n");
        FOut.Lit("      </direction>\r\n");
    }

    void Forward(TScoreTime length, const TScoreVoice& voice, bool withStaff) {
        FOut.Lit("      <forward>\r\n        <duration>");
        Time(length);
        FOut.Lit("</duration>\r\n        <voice>");
        FOut.Int(voice.Number);
        FOut.Lit("</voice>\r\n");
        if (withStaff) {
            FOut.Lit("        <staff>");
            FOut.Int(voice.Staff);
            FOut.Lit("</staff>\r\n");
        }
        FOut.Lit("      </forward>\r\n");
    }

    void Event(const TScorePart& part, const TScoreEvent& event, const TScoreVoice& voice) {
        // A silence that is not to be seen moves the voice on without a rest:
        // renderers draw a rest even where it says print-object="no".
        if (event.IsRest() && event.Hidden) {
            Forward(event.Duration, voice, part.Staves > 1);
            return;
        }
        if (event.IsRest()) {
            Note(part, event, voice, nullptr, false);
            return;
        }
        for (std::uint32_t h = 0; h < event.HeadCount; ++h)
            Note(part, event, voice, &part.Heads[event.FirstHead + h], h > 0);
    }

    void Note(const TScorePart& part, const TScoreEvent& event, const TScoreVoice& voice, const TScoreHead* head,
              bool chord) {
        FOut.Lit("      <note>\r\n");
        if (chord) FOut.Lit("        <chord/>\r\n");
        const bool unpitched = head != nullptr && head->Instrument >= 0 && !part.Instruments.empty();
        if (head == nullptr && event.RestStep >= 0) {
            if (event.MeasureRest) FOut.Lit("        <rest measure=\"yes\">\r\n");
            else FOut.Lit("        <rest>\r\n");
            FOut.Lit("          <display-step>");
            FOut.Put(kStepLetters[event.RestStep]);
            FOut.Lit("</display-step>\r\n          <display-octave>");
            FOut.Int(event.RestOctave);
            FOut.Lit("</display-octave>\r\n        </rest>\r\n");
        } else if (head == nullptr) {
            if (event.MeasureRest) FOut.Lit("        <rest measure=\"yes\"/>\r\n");
            else FOut.Lit("        <rest/>\r\n");
        } else if (unpitched) {
            FOut.Lit("        <unpitched>\r\n          <display-step>");
            FOut.Put(kStepLetters[head->Step]);
            FOut.Lit("</display-step>\r\n          <display-octave>");
            FOut.Int(head->Octave);
            FOut.Lit("</display-octave>\r\n        </unpitched>\r\n");
        } else {
            FOut.Lit("        <pitch>\r\n          <step>");
            FOut.Put(kStepLetters[head->Step]);
            FOut.Lit("</step>\r\n");
            if (head->Alter != 0) {
                FOut.Lit("          <alter>");
                FOut.Int(head->Alter);
                FOut.Lit("</alter>\r\n");
            }
            FOut.Lit("          <octave>");
            FOut.Int(head->Octave);
            FOut.Lit("</octave>\r\n        </pitch>\r\n");
        }
        FOut.Lit("        <duration>");
        Time(event.Duration);
        FOut.Lit("</duration>\r\n");
        const bool tieStop = head != nullptr && head->TieStop;
        const bool tieStart = head != nullptr && head->TieStart;
        if (tieStop) FOut.Lit("        <tie type=\"stop\"/>\r\n");
        if (tieStart) FOut.Lit("        <tie type=\"start\"/>\r\n");
        if (unpitched) {
            FOut.Lit("        <instrument id=\"");
            PutEscaped(FOut, part.Instruments[static_cast<std::size_t>(head->Instrument)].Id);
            FOut.Lit("\"/>\r\n");
        }
        FOut.Lit("        <voice>");
        FOut.Int(voice.Number);
        FOut.Lit("</voice>\r\n");
        if (event.HasType) {
            FOut.Lit("        <type>");
            FOut.Put(NoteTypeName(event.Type));
            FOut.Lit("</type>\r\n");
        }
        for (std::uint8_t d = 0; d < event.Dots; ++d) FOut.Lit("        <dot/>\r\n");
        if (head != nullptr && head->Accidental != TAccidental::acNone) {
            FOut.Lit("        <accidental>");
            FOut.Put(AccidentalName(head->Accidental));
            FOut.Lit("</accidental>\r\n");
        }
        const TScoreTuplet& tuplet = event.Tuplet;
        if (tuplet.Actual > 0) {
            FOut.Lit("        <time-modification>\r\n          <actual-notes>");
            FOut.Int(tuplet.Actual);
            FOut.Lit("</actual-notes>\r\n          <normal-notes>");
            FOut.Int(tuplet.Normal);
            FOut.Lit("</normal-notes>\r\n          <normal-type>");
            FOut.Put(NoteTypeName(tuplet.NormalType));
            FOut.Lit("</normal-type>\r\n        </time-modification>\r\n");
        }
        if (event.Stem == TStem::stUp) FOut.Lit("        <stem>up</stem>\r\n");
        else if (event.Stem == TStem::stDown) FOut.Lit("        <stem>down</stem>\r\n");
        if (head != nullptr && head->Notehead != TNotehead::nhNormal) {
            FOut.Lit("        <notehead>");
            FOut.Put(NoteheadName(head->Notehead));
            FOut.Lit("</notehead>\r\n");
        }
        if (part.Staves > 1) {
            FOut.Lit("        <staff>");
            FOut.Int(voice.Staff);
            FOut.Lit("</staff>\r\n");
        }
        for (std::size_t level = 0; level < kBeamLevels && event.Beams[level] != TBeam::bmNone; ++level) {
            FOut.Lit("        <beam number=\"");
            FOut.Int(static_cast<std::int64_t>(level) + 1);
            FOut.Lit("\">");
            FOut.Put(BeamName(event.Beams[level]));
            FOut.Lit("</beam>\r\n");
        }
        const bool tupletMark = !chord && (tuplet.Start || tuplet.Stop);
        if (tieStop || tieStart || tupletMark) {
            FOut.Lit("        <notations>\r\n");
            if (tieStop) FOut.Lit("          <tied type=\"stop\"/>\r\n");
            if (tieStart) FOut.Lit("          <tied type=\"start\"/>\r\n");
            if (!chord && tuplet.Stop) FOut.Lit("          <tuplet type=\"stop\"/>\r\n");
            if (!chord && tuplet.Start) {
                if (tuplet.Bracket) FOut.Lit("          <tuplet type=\"start\" bracket=\"yes\"/>\r\n");
                else FOut.Lit("          <tuplet type=\"start\" bracket=\"no\"/>\r\n");
            }
            FOut.Lit("        </notations>\r\n");
        }
        FOut.Lit("      </note>\r\n");
    }

    const TScore& FScore;
    TTextBuffer& FOut;
    std::int64_t FFactor;
};

}  // namespace

std::string_view NoteTypeName(TNoteType type) {
    static constexpr std::string_view kNames[] = {"breve", "whole", "half", "quarter", "eighth",
                                                  "16th",  "32nd",  "64th", "128th",   "256th"};
    return kNames[static_cast<std::size_t>(type)];
}

std::string DropCharactersXmlForbids(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) valid = false;
            code = (code << 6) | (c & 0x3Fu);
        }
        if (valid) {
            const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
            const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
            const bool forbidden =
                (code < 0x20 && code != 0x09 && code != 0x0A && code != 0x0D) || code == 0xFFFE || code == 0xFFFF;
            if (!overlong && !surrogate && code <= 0x10FFFF && !forbidden) out.append(text.substr(i, length));
            i += length;
        } else {
            ++i;
        }
    }
    return out;
}

void WriteMusicXml(const TScore& score, TTextBuffer& out) { TWriter(score, out).Document(); }

std::size_t MusicXmlSizeBound(const TScore& score) {
    // Each text may grow sixfold by escaping ("'" becomes "&apos;"); every
    // number takes at most 20 digits. The constants are the longest forms of
    // the elements with all their optional lines.
    const auto text = [](std::string_view value) { return 6 * value.size(); };
    std::size_t bound = 1024 + text(score.Title) + 160 * score.PartGroups.size();
    for (const auto& part : score.Parts) {
        bound += 256 + text(part.Name) + text(part.Abbreviation);
        std::size_t longestId = 0;
        for (const auto& instrument : part.Instruments) {
            bound += 512 + 2 * text(instrument.Id) + text(instrument.Name);
            longestId = std::max(longestId, text(instrument.Id));
        }
        for (const auto& measure : part.Measures) {
            bound += 1024 + text(measure.Number) + 160 * measure.Clefs.size();
            for (const auto& tempo : measure.Tempos) bound += 512 + text(tempo.PerMinute) + text(tempo.Sound);
        }
        bound += 160 * part.Voices.size();
        for (const auto& event : part.Events) {
            std::size_t note = 640 + 16 * std::size_t{event.Dots};
            for (const TBeam beam : event.Beams) note += beam != TBeam::bmNone ? 48 : 0;
            if (event.Tuplet.Actual > 0 || event.Tuplet.Start || event.Tuplet.Stop) note += 320;
            const std::size_t elements = event.IsRest() ? 1 : event.HeadCount;
            bound += 160 + elements * (note + longestId);
        }
    }
    return bound;
}

}  // namespace korvalin
