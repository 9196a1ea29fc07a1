// Cutting a MusicXML score into pieces of whole measures, each a complete
// document that carries the attributes in force where it starts.

#include "MusicXmlPieces.h"

#include <algorithm>
#include <charconv>
#include <climits>

#include "MusicXmlExporter.h"
#include "XmlElementTree.h"

namespace korvalin {
namespace {

// score-partwise > part > measure > attributes > clef: nothing deeper is needed.
constexpr int kTreeDepth = 4;

// The children of <attributes> in the order the format wants them.
constexpr std::string_view kAttributeOrder[] = {
    "footnote",    "level", "divisions",     "key",       "time",     "staves",    "part-symbol",
    "instruments", "clef",  "staff-details", "transpose", "for-part", "directive", "measure-style"};

std::size_t AttributeRank(std::string_view name) {
    const auto* found = std::find(std::begin(kAttributeOrder), std::end(kAttributeOrder), name);
    return static_cast<std::size_t>(found - std::begin(kAttributeOrder));
}

// What stays in force until it is changed. Footnotes, levels, directives and
// measure styles (multi-measure rests, slashes) belong to their own measure.
bool StaysInForce(std::string_view name) {
    return name == "divisions" || name == "key" || name == "time" || name == "staves" || name == "part-symbol" ||
           name == "instruments" || name == "clef" || name == "staff-details" || name == "transpose" ||
           name == "for-part";
}

// Kinds given per staff by their number attribute; without one, a key, time,
// staff detail or transposition holds for every staff, and a clef for the first.
bool IsPerStaff(std::string_view name) {
    return name == "key" || name == "time" || name == "clef" || name == "staff-details" || name == "transpose";
}

std::optional<std::int64_t> WholeNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// One attribute child in force: its kind, the staff it is for ("" for all)
// and the element as written.
struct TAttribute {
    std::string_view Name;
    std::string_view Number;
    std::string_view Source;
};
using TAttributeState = std::vector<TAttribute>;

// Folds the children of one <attributes> into the state in force.
void ApplyAttributes(const TXmlElementTree& tree, std::int32_t attributes, TAttributeState& state) {
    for (const std::int32_t child : tree.Children(attributes)) {
        const std::string_view name = tree.At(child).Name;
        if (!StaysInForce(name)) continue;
        std::string_view number = IsPerStaff(name) ? tree.Attribute(child, "number").value_or("") : "";
        if (name == "clef" && number.empty()) number = "1";
        std::erase_if(state, [&](const TAttribute& held) {
            return held.Name == name && (number.empty() || held.Number == number);
        });
        state.push_back({name, number, tree.Source(child)});
    }
}

std::int32_t StavesIn(const TAttributeState& state) {
    for (const TAttribute& held : state)
        if (held.Name == "staves") {
            const std::string_view source = held.Source;
            const std::size_t open = source.find('>');
            const std::size_t close = source.rfind('<');
            if (open == std::string_view::npos || close == std::string_view::npos || close <= open) return 1;
            const auto value = WholeNumber(source.substr(open + 1, close - open - 1));
            return static_cast<std::int32_t>(std::clamp<std::int64_t>(value.value_or(1), 1, 1000));
        }
    return 1;
}

struct TPartMeasure {
    std::int32_t Element = -1;
    std::vector<std::int32_t> Leading;              // <attributes> before the first note, backup or forward
    std::shared_ptr<const TAttributeState> Before;  // in force as the measure starts
    std::int32_t Staves = 1;
    std::int64_t Notes = 0;
};

struct TPart {
    std::int32_t Element = -1;
    std::vector<TPartMeasure> Measures;
};

TPart ReadPart(const TXmlElementTree& tree, std::int32_t element) {
    TPart part{element, {}};
    auto state = std::make_shared<const TAttributeState>();
    for (const std::int32_t measureElement : tree.Children(element, "measure")) {
        TPartMeasure measure;
        measure.Element = measureElement;
        measure.Before = state;
        bool timed = false;
        TAttributeState after;
        bool changed = false;
        for (const std::int32_t child : tree.Children(measureElement)) {
            const std::string_view name = tree.At(child).Name;
            if (name == "note") {
                ++measure.Notes;
                timed = true;
            } else if (name == "backup" || name == "forward") {
                timed = true;
            } else if (name == "attributes") {
                if (!timed) measure.Leading.push_back(child);
                if (!changed) after = *state;
                changed = true;
                ApplyAttributes(tree, child, after);
            }
        }
        if (changed) state = std::make_shared<const TAttributeState>(std::move(after));
        measure.Staves = StavesIn(*state);
        part.Measures.push_back(std::move(measure));
    }
    return part;
}

// The white space that starts the line an offset stands on, or empty when
// something else precedes the offset on its line.
std::string_view Indentation(std::string_view text, std::size_t at) {
    std::size_t begin = at;
    while (begin > 0 && (text[begin - 1] == ' ' || text[begin - 1] == '\t')) --begin;
    if (begin > 0 && text[begin - 1] != '\n') return {};
    return text.substr(begin, at - begin);
}

}  // namespace

struct TMusicXmlPieceCutter::TImpl {
    std::string Text;
    TXmlElementTree Tree;
    std::int32_t PartList = -1;
    std::vector<TPart> Parts;
    std::vector<TPieceMeasure> Measures;
    TMusicXmlHeading Heading;
    std::int32_t StaffCount = 0;
    std::string Newline;
    std::string OpeningHeader;
    std::string LaterHeader;

    explicit TImpl(std::string document) : Text(std::move(document)), Tree(Text, kTreeDepth) {
        const std::int32_t root = Tree.RootIndex();
        if (Tree.Root().Name != "score-partwise") throw EMusicXmlError("The document is not a partwise MusicXML score");
        PartList = Tree.FirstChild(root, "part-list");
        if (PartList < 0) throw EMusicXmlError("The MusicXML score has no part list");
        for (const std::int32_t part : Tree.Children(root, "part")) Parts.push_back(ReadPart(Tree, part));
        if (Parts.empty()) throw EMusicXmlError("The MusicXML score has no parts");
        Newline = Text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
        ReadMeasures();
        if (Measures.empty()) throw EMusicXmlError("The MusicXML score has no measures");
        ReadHeading();
        OpeningHeader = Header(false);
        LaterHeader = Header(true);
    }

    const TPartMeasure* MeasureOf(std::size_t part, std::size_t index) const {
        const auto& measures = Parts[part].Measures;
        return index < measures.size() ? &measures[index] : nullptr;
    }

    // Partwise parts should have the same measures; a part that falls short
    // just has nothing in the later pieces.
    void ReadMeasures() {
        std::size_t count = 0;
        for (const TPart& part : Parts) count = std::max(count, part.Measures.size());
        Measures.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            TPieceMeasure& measure = Measures[i];
            std::int64_t staves = 0;
            for (std::size_t p = 0; p < Parts.size(); ++p) {
                const TPartMeasure* own = MeasureOf(p, i);
                if (own == nullptr) continue;
                if (measure.Number.empty())
                    measure.Number = std::string(Tree.Attribute(own->Element, "number").value_or(""));
                staves += own->Staves;
                measure.Notes += own->Notes;
            }
            measure.Staves = static_cast<std::int32_t>(std::min<std::int64_t>(staves, INT32_MAX));
            StaffCount = std::max(StaffCount, measure.Staves);
        }
    }

    void ReadHeading() {
        const std::int32_t root = Tree.RootIndex();
        std::string workTitle;
        std::string movementTitle;
        if (const std::int32_t work = Tree.FirstChild(root, "work"); work >= 0)
            if (const std::int32_t title = Tree.FirstChild(work, "work-title"); title >= 0)
                workTitle = XmlUnescapedText(Tree.Content(title));
        if (const std::int32_t title = Tree.FirstChild(root, "movement-title"); title >= 0)
            movementTitle = XmlUnescapedText(Tree.Content(title));
        Heading.Title = workTitle.empty() ? movementTitle : workTitle;
        if (!workTitle.empty() && movementTitle != workTitle) Heading.Subtitle = movementTitle;
        if (const std::int32_t identification = Tree.FirstChild(root, "identification"); identification >= 0)
            for (const std::int32_t creator : Tree.Children(identification, "creator"))
                if (Tree.Attribute(creator, "type").value_or("") == "composer") {
                    Heading.Composer = XmlUnescapedText(Tree.Content(creator));
                    break;
                }
    }

    // Everything before the first part, with the part list made ready for
    // names on every system.
    std::string Header(bool shortNames) const {
        const TXmlElement& list = Tree.At(PartList);
        std::string header(std::string_view(Text).substr(0, list.Begin));
        header += PartListText(shortNames);
        header += std::string_view(Text).substr(list.End, Tree.At(Parts.front().Element).Begin - list.End);
        return header;
    }

    std::string PartListText(bool shortNames) const {
        struct TEdit {
            std::size_t At;
            std::size_t Length;
            std::string Text;
        };
        const std::string_view text(Text);
        std::vector<TEdit> edits;
        const bool oneStaff = StaffCount <= 1;
        for (const std::int32_t scorePart : Tree.Children(PartList, "score-part")) {
            const std::int32_t name = Tree.FirstChild(scorePart, "part-name");
            if (name < 0 || Tree.Attribute(name, "print-object").value_or("yes") == "no") continue;
            const TXmlElement& nameElement = Tree.At(name);
            if (shortNames && oneStaff) {
                // A lone staff is named on the first system only, as printed music does.
                edits.push_back({nameElement.Begin + 1 + nameElement.Name.size(), 0, " print-object=\"no\""});
                continue;
            }
            const std::int32_t abbreviation = Tree.FirstChild(scorePart, "part-abbreviation");
            const bool hasShort = abbreviation >= 0 && !XmlUnescapedText(Tree.Content(abbreviation)).empty();
            const std::string shortName(hasShort ? Tree.Content(abbreviation) : Tree.Content(name));
            if (shortNames && hasShort)
                edits.push_back(
                    {nameElement.StartTagEnd, nameElement.EndTagBegin - nameElement.StartTagEnd, shortName});
            if (abbreviation < 0) {
                const std::string_view indent = Indentation(text, nameElement.Begin);
                edits.push_back({nameElement.End, 0,
                                 (indent.empty() ? std::string() : Newline + std::string(indent)) +
                                     "<part-abbreviation>" + shortName + "</part-abbreviation>"});
            } else if (!hasShort) {
                const TXmlElement& element = Tree.At(abbreviation);
                edits.push_back({element.Begin, element.End - element.Begin,
                                 "<part-abbreviation>" + shortName + "</part-abbreviation>"});
            }
        }
        std::sort(edits.begin(), edits.end(), [](const TEdit& a, const TEdit& b) { return a.At < b.At; });
        const TXmlElement& list = Tree.At(PartList);
        std::string result;
        std::size_t at = list.Begin;
        for (const TEdit& edit : edits) {
            result.append(text.substr(at, edit.At - at));
            result += edit.Text;
            at = edit.At + edit.Length;
        }
        result.append(text.substr(at, list.End - at));
        return result;
    }

    void AppendPart(std::string& out, std::size_t p, std::size_t begin, std::size_t end, bool opening) const {
        const std::string_view text(Text);
        const TPart& part = Parts[p];
        const TXmlElement& element = Tree.At(part.Element);
        if (p > 0) {
            const std::size_t previousEnd = Tree.At(Parts[p - 1].Element).End;
            out.append(text.substr(previousEnd, element.Begin - previousEnd));
        }
        out.append(text.substr(element.Begin, element.StartTagEnd - element.Begin));
        for (std::size_t i = begin; i < end && i < part.Measures.size(); ++i) {
            const TPartMeasure& measure = part.Measures[i];
            const std::size_t gapBegin = i == 0 ? element.StartTagEnd : Tree.At(part.Measures[i - 1].Element).End;
            out.append(text.substr(gapBegin, Tree.At(measure.Element).Begin - gapBegin));
            if (i == begin && i > 0) AppendOpeningMeasure(out, measure, opening);
            else out.append(Tree.Source(measure.Element));
        }
        const std::size_t tail =
            part.Measures.empty() ? element.StartTagEnd : Tree.At(part.Measures.back().Element).End;
        out.append(text.substr(tail, element.End - tail));
    }

    // The first measure of a piece that starts later in the score: its own
    // leading attributes merged into those in force before it, as one
    // <attributes> where the first of its own stood (or at its start, after
    // any <print>). A time signature carried into a piece that continues
    // what is shown is not drawn again: a reader sees one only at the start
    // and where it changes.
    void AppendOpeningMeasure(std::string& out, const TPartMeasure& measure, bool opening) const {
        struct TChild {
            std::size_t Rank;
            std::string_view Number;
            std::string_view Source;
            bool Hidden = false;
        };
        std::vector<TChild> children;
        TAttributeState state = *measure.Before;
        for (const std::int32_t attributes : measure.Leading) {
            ApplyAttributes(Tree, attributes, state);
            for (const std::int32_t child : Tree.Children(attributes))
                if (!StaysInForce(Tree.At(child).Name))
                    children.push_back({AttributeRank(Tree.At(child).Name), {}, Tree.Source(child)});
        }
        const auto ownChange = [&](std::string_view source) {
            return std::any_of(measure.Leading.begin(), measure.Leading.end(), [&](std::int32_t attributes) {
                const TXmlElement& own = Tree.At(attributes);
                return source.data() >= Text.data() + own.Begin && source.data() < Text.data() + own.End;
            });
        };
        for (const TAttribute& held : state)
            children.push_back({AttributeRank(held.Name), held.Number, held.Source,
                                !opening && held.Name == "time" && !ownChange(held.Source)});
        std::stable_sort(children.begin(), children.end(), [](const TChild& a, const TChild& b) {
            if (a.Rank != b.Rank) return a.Rank < b.Rank;
            return WholeNumber(a.Number).value_or(0) < WholeNumber(b.Number).value_or(0);
        });

        const std::string_view text(Text);
        const TXmlElement& element = Tree.At(measure.Element);
        std::size_t at = element.EndTagBegin;
        for (std::int32_t child = element.FirstChild; child >= 0; child = Tree.At(child).NextSibling) {
            if (Tree.At(child).Name == "print") continue;
            at = Tree.At(child).Begin;
            break;
        }
        if (!measure.Leading.empty()) at = Tree.At(measure.Leading.front()).Begin;
        const std::string_view indent = Indentation(text, at);
        const bool ownLine = at > indent.size() && text[at - indent.size() - 1] == '\n';
        const std::string lineBreak = ownLine ? Newline + std::string(indent) : std::string();

        out.append(text.substr(element.Begin, at - element.Begin));
        out += "<attributes>";
        for (const TChild& child : children) {
            if (ownLine) out += lineBreak + "  ";
            const std::string_view tag = child.Source.substr(0, child.Source.find('>'));
            if (child.Hidden && tag.find("print-object") == std::string_view::npos) {
                constexpr std::string_view name = "<time";
                out.append(name);
                out += " print-object=\"no\"";
                out.append(child.Source.substr(name.size()));
            } else {
                out.append(child.Source);
            }
        }
        out += lineBreak + "</attributes>";

        if (measure.Leading.empty()) {
            out += lineBreak;
            out.append(text.substr(at, element.End - at));
            return;
        }
        // The rest of the measure without its own leading attributes; a later
        // one goes with the line it stood on.
        std::size_t copyFrom = Tree.At(measure.Leading.front()).End;
        for (std::size_t k = 1; k < measure.Leading.size(); ++k) {
            const TXmlElement& leading = Tree.At(measure.Leading[k]);
            std::size_t cut = leading.Begin - Indentation(text, leading.Begin).size();
            if (cut > copyFrom && text[cut - 1] == '\n') --cut;
            if (cut > copyFrom && text[cut - 1] == '\r') --cut;
            out.append(text.substr(copyFrom, cut - copyFrom));
            copyFrom = leading.End;
        }
        out.append(text.substr(copyFrom, element.End - copyFrom));
    }
};

TMusicXmlPieceCutter::TMusicXmlPieceCutter(std::string document) : F(std::make_unique<TImpl>(std::move(document))) {}

TMusicXmlPieceCutter::~TMusicXmlPieceCutter() = default;

const TMusicXmlHeading& TMusicXmlPieceCutter::Heading() const { return F->Heading; }

std::size_t TMusicXmlPieceCutter::MeasureCount() const { return F->Measures.size(); }

const TPieceMeasure& TMusicXmlPieceCutter::Measure(std::size_t index) const { return F->Measures.at(index); }

std::int32_t TMusicXmlPieceCutter::StaffCount() const { return F->StaffCount; }

std::pair<std::size_t, std::size_t> TMusicXmlPieceCutter::MeasuresNumbered(std::optional<std::int64_t> from,
                                                                           std::optional<std::int64_t> to) const {
    const std::int64_t low = from.value_or(INT64_MIN);
    const std::int64_t high = to.value_or(INT64_MAX);
    std::optional<std::size_t> first;
    std::size_t end = 0;
    for (std::size_t i = 0; i < F->Measures.size(); ++i) {
        const std::optional<std::int64_t> number = WholeNumber(F->Measures[i].Number);
        if (!number || *number < low || *number > high) continue;
        if (!first) first = i;
        end = i + 1;
    }
    if (!first) throw EMusicXmlError("The score has no measures numbered in the range asked for");
    return {*first, end};
}

std::size_t TMusicXmlPieceCutter::PieceEnd(std::size_t first, std::size_t limit, std::int64_t staffMeasures,
                                           std::int64_t notes) const {
    limit = std::min(limit, F->Measures.size());
    if (first >= limit) return limit;
    std::int64_t heldStaves = F->Measures[first].Staves;
    std::int64_t heldNotes = F->Measures[first].Notes;
    std::size_t end = first + 1;
    while (end < limit && heldStaves + F->Measures[end].Staves <= staffMeasures &&
           heldNotes + F->Measures[end].Notes <= notes) {
        heldStaves += F->Measures[end].Staves;
        heldNotes += F->Measures[end].Notes;
        ++end;
    }
    return end;
}

TMusicXmlPiece TMusicXmlPieceCutter::Piece(std::size_t first, std::size_t end, bool opening) const {
    end = std::min(end, F->Measures.size());
    if (first >= end) throw EMusicXmlError("A piece of a score needs at least one measure");
    TMusicXmlPiece piece;
    piece.FirstMeasure = first;
    piece.EndMeasure = end;
    piece.Xml = opening ? F->OpeningHeader : F->LaterHeader;
    for (std::size_t p = 0; p < F->Parts.size(); ++p) F->AppendPart(piece.Xml, p, first, end, opening);
    piece.Xml.append(std::string_view(F->Text).substr(F->Tree.At(F->Parts.back().Element).End));
    return piece;
}

std::vector<TMusicXmlPiece> CutMusicXmlPieces(std::string document, const TPieceOptions& options) {
    const TMusicXmlPieceCutter cutter(std::move(document));
    std::size_t first = 0;
    std::size_t end = cutter.MeasureCount();
    if (options.FromNumber || options.ToNumber)
        std::tie(first, end) = cutter.MeasuresNumbered(options.FromNumber, options.ToNumber);
    std::vector<TMusicXmlPiece> pieces;
    while (first < end) {
        const bool opening = pieces.empty();
        const std::size_t pieceEnd =
            cutter.PieceEnd(first, end, opening ? options.FirstStaffMeasures : options.StaffMeasures,
                            opening ? options.FirstNotes : options.Notes);
        pieces.push_back(cutter.Piece(first, pieceEnd, opening));
        first = pieceEnd;
    }
    return pieces;
}

}  // namespace korvalin
