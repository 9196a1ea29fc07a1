// A long score cut into pieces that the score library can draw one by one.

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvalin {

// What is drawn above the first system, read from the document (entities
// resolved, UTF-8); empty where the document has none.
struct TMusicXmlHeading {
    std::string Title;     // work-title, else movement-title
    std::string Subtitle;  // movement-title when the work has a title of its own
    std::string Composer;  // the creator of type "composer"
};

// One measure of the score across all parts.
struct TPieceMeasure {
    std::string Number;  // its number attribute as written
    std::int32_t Staves = 0;
    std::int64_t Notes = 0;
};

// One piece: a complete partwise document of whole measures.
struct TMusicXmlPiece {
    std::string Xml;
    std::size_t FirstMeasure = 0;  // index of its first measure in the whole score
    std::size_t EndMeasure = 0;    // index just after its last measure
};

// Cuts a partwise MusicXML document into pieces of whole measures that the
// score library can draw each on its own, so that a long score is drawn a
// little at a time. A piece holds the header of the whole score, the measures
// of every part in its range, and in its first measure the attributes in force
// there (divisions, key, time, staves, clef of each staff, ...); measures keep
// their numbers and everything in them. Every part gets a short name (its full
// name where it has none) and pieces other than the opening one name their
// parts by it, so that every drawn system starts with names, full ones on the
// first only; a score of one staff is named on its first system only.
class TMusicXmlPieceCutter {
public:
    // Throws EMusicXmlError for a text that is not a partwise MusicXML score
    // with at least one measure.
    explicit TMusicXmlPieceCutter(std::string document);
    ~TMusicXmlPieceCutter();
    TMusicXmlPieceCutter(const TMusicXmlPieceCutter&) = delete;
    TMusicXmlPieceCutter& operator=(const TMusicXmlPieceCutter&) = delete;

    const TMusicXmlHeading& Heading() const;
    std::size_t MeasureCount() const;
    const TPieceMeasure& Measure(std::size_t index) const;
    // The staves of the widest measure.
    std::int32_t StaffCount() const;

    // The measures whose numbers (whole numbers as written) lie in from..to,
    // as indices [first, end); throws EMusicXmlError when there are none.
    std::pair<std::size_t, std::size_t> MeasuresNumbered(std::optional<std::int64_t> from,
                                                         std::optional<std::int64_t> to) const;

    // Where a piece that starts at `first` ends: it takes measures while they
    // hold at most `staffMeasures` staff-measures (a measure on one staff) and
    // `notes` notes together, at least one, and none from `limit` on.
    std::size_t PieceEnd(std::size_t first, std::size_t limit, std::int64_t staffMeasures, std::int64_t notes) const;

    // The document of measures [first, end). The opening piece of what is
    // drawn names the parts in full and shows the time signature; a later
    // piece shows it only where it changes.
    TMusicXmlPiece Piece(std::size_t first, std::size_t end, bool opening) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> F;
};

struct TPieceOptions {
    std::int64_t StaffMeasures = 96;
    std::int64_t Notes = 1200;
    // The first piece is drawn before anything else, so it is smaller.
    std::int64_t FirstStaffMeasures = 48;
    std::int64_t FirstNotes = 600;
    // Only the measures numbered From..To; all when neither is set.
    std::optional<std::int64_t> FromNumber;
    std::optional<std::int64_t> ToNumber;
};

// The whole score (or the measures asked for) cut into pieces under the limits.
std::vector<TMusicXmlPiece> CutMusicXmlPieces(std::string document, const TPieceOptions& options = {});

}  // namespace korvalin
