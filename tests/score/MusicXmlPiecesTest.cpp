// The piece cutter: every piece a document of its own that carries what is in
// force where it starts, the measures unchanged and each in one piece only.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "FileIO.h"
#include "MusicXmlExporter.h"
#include "MusicXmlPieces.h"
#include "ScoreTestSupport.h"
#include "XmlElementTree.h"

namespace korvalin {
namespace {

// A piano part on two staves and a flute: a pickup measure 0, a clef change
// on the left hand in the middle of measure 2, a key change at the start of
// measure 3 (before a direction), a new divisions value in measure 4.
const char* const kScore = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE score-partwise PUBLIC "-//Recordare//DTD MusicXML 4.0 Partwise//EN" "http://www.musicxml.org/dtds/partwise.dtd">
<score-partwise version="4.0">
  <work><work-title>Pieces &amp; Parts</work-title></work>
  <movement-title>First movement</movement-title>
  <identification><creator type="composer">A. Composer</creator></identification>
  <part-list>
    <score-part id="P1"><part-name>Piano</part-name><part-abbreviation>Pno.</part-abbreviation></score-part>
    <score-part id="P2">
      <part-name>Flute</part-name>
    </score-part>
  </part-list>
  <part id="P1">
    <measure number="0" implicit="yes">
      <attributes>
        <divisions>2</divisions>
        <key><fifths>0</fifths></key>
        <time><beats>2</beats><beat-type>4</beat-type></time>
        <staves>2</staves>
        <clef number="1"><sign>G</sign><line>2</line></clef>
        <clef number="2"><sign>F</sign><line>4</line></clef>
      </attributes>
      <note><pitch><step>C</step><octave>5</octave></pitch><duration>2</duration><voice>1</voice><staff>1</staff></note>
    </measure>
    <measure number="1">
      <note><pitch><step>D</step><octave>5</octave></pitch><duration>4</duration><voice>1</voice><staff>1</staff></note>
      <backup><duration>4</duration></backup>
      <note><pitch><step>C</step><octave>3</octave></pitch><duration>4</duration><voice>5</voice><staff>2</staff></note>
    </measure>
    <measure number="2">
      <note><pitch><step>E</step><octave>5</octave></pitch><duration>4</duration><voice>1</voice><staff>1</staff></note>
      <backup><duration>4</duration></backup>
      <note><pitch><step>C</step><octave>3</octave></pitch><duration>2</duration><voice>5</voice><staff>2</staff></note>
      <attributes><clef number="2"><sign>G</sign><line>2</line></clef></attributes>
      <note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration><voice>5</voice><staff>2</staff></note>
    </measure>
    <measure number="3">
      <attributes><key><fifths>-3</fifths><mode>minor</mode></key><measure-style><slash type="start"/></measure-style></attributes>
      <direction><direction-type><words>dolce</words></direction-type></direction>
      <note><pitch><step>F</step><octave>5</octave></pitch><duration>4</duration><voice>1</voice><staff>1</staff></note>
    </measure>
    <measure number="4">
      <attributes><divisions>4</divisions></attributes>
      <note><pitch><step>G</step><octave>5</octave></pitch><duration>8</duration><voice>1</voice><staff>1</staff></note>
    </measure>
  </part>
  <part id="P2">
    <measure number="0" implicit="yes">
      <attributes><divisions>1</divisions><key><fifths>0</fifths></key><time><beats>2</beats><beat-type>4</beat-type></time><clef><sign>G</sign><line>2</line></clef></attributes>
      <note><rest/><duration>1</duration></note>
    </measure>
    <measure number="1"><note><pitch><step>A</step><octave>5</octave></pitch><duration>2</duration></note></measure>
    <measure number="2"><note><pitch><step>B</step><octave>5</octave></pitch><duration>2</duration></note></measure>
    <measure number="3"><attributes><key><fifths>-3</fifths><mode>minor</mode></key></attributes><note><pitch><step>C</step><octave>6</octave></pitch><duration>2</duration></note></measure>
    <measure number="4"><note><pitch><step>D</step><octave>6</octave></pitch><duration>2</duration></note></measure>
  </part>
</score-partwise>
)";

// The pieces of a document, read back as element trees.
struct TReadPiece {
    std::string Xml;
    TXmlElementTree Tree;
    explicit TReadPiece(std::string xml) : Xml(std::move(xml)), Tree(Xml) {}

    std::vector<std::int32_t> Parts() const { return Tree.Children(Tree.RootIndex(), "part"); }
    std::vector<std::int32_t> Measures(std::size_t part) const { return Tree.Children(Parts().at(part), "measure"); }
    // The attribute children of a measure's <attributes> elements, as written.
    std::vector<std::string> Attributes(std::size_t part, std::size_t measure) const {
        std::vector<std::string> found;
        for (const std::int32_t attributes : Tree.Children(Measures(part).at(measure), "attributes"))
            for (const std::int32_t child : Tree.Children(attributes)) found.emplace_back(Tree.Source(child));
        return found;
    }
    std::string PartName(std::size_t part) const {
        const std::int32_t list = Tree.FirstChild(Tree.RootIndex(), "part-list");
        const std::int32_t scorePart = Tree.Children(list, "score-part").at(part);
        return std::string(Tree.Source(Tree.FirstChild(scorePart, "part-name")));
    }
};

std::vector<std::string> NoteSources(const TXmlElementTree& tree) {
    std::vector<std::string> notes;
    for (const std::int32_t part : tree.Children(tree.RootIndex(), "part"))
        for (const std::int32_t measure : tree.Children(part, "measure"))
            for (const std::int32_t note : tree.Children(measure, "note")) notes.emplace_back(tree.Source(note));
    return notes;
}

TEST(MusicXmlPieces, APieceThatStartsLaterCarriesWhatIsInForceThere) {
    const TMusicXmlPieceCutter cutter(kScore);
    ASSERT_EQ(cutter.MeasureCount(), 5u);

    // Measure 3 starts a piece: the pickup's divisions, time and staves, the
    // left hand's clef as changed in measure 2, and the measure's own new key
    // and slash style, all in one <attributes> before its direction.
    const TReadPiece third(cutter.Piece(3, 5, false).Xml);
    EXPECT_EQ(third.Attributes(0, 0),
              (std::vector<std::string>{"<divisions>2</divisions>", "<key><fifths>-3</fifths><mode>minor</mode></key>",
                                        "<time print-object=\"no\"><beats>2</beats><beat-type>4</beat-type></time>",
                                        "<staves>2</staves>", "<clef number=\"1\"><sign>G</sign><line>2</line></clef>",
                                        "<clef number=\"2\"><sign>G</sign><line>2</line></clef>",
                                        "<measure-style><slash type=\"start\"/></measure-style>"}));
    const std::int32_t opening = third.Measures(0).at(0);
    EXPECT_EQ(third.Tree.Children(opening, "attributes").size(), 1u);
    EXPECT_EQ(third.Tree.At(third.Tree.FirstChild(opening, "attributes")).NextSibling,
              third.Tree.FirstChild(opening, "direction"));
    // The measure after keeps its own change and nothing more.
    EXPECT_EQ(third.Attributes(0, 1), (std::vector<std::string>{"<divisions>4</divisions>"}));
    // A clef without a staff number is the first staff's.
    EXPECT_EQ(third.Attributes(1, 0),
              (std::vector<std::string>{"<divisions>1</divisions>", "<key><fifths>-3</fifths><mode>minor</mode></key>",
                                        "<time print-object=\"no\"><beats>2</beats><beat-type>4</beat-type></time>",
                                        "<clef><sign>G</sign><line>2</line></clef>"}));
    // The time signature is drawn where what is shown starts, and where it
    // changes; a piece that merely continues does not draw it again.
    EXPECT_EQ(TReadPiece(cutter.Piece(3, 5, true).Xml).Attributes(1, 0).at(2),
              "<time><beats>2</beats><beat-type>4</beat-type></time>");
    std::string changing(kScore);
    const std::string divisions = "<attributes><divisions>4</divisions></attributes>";
    changing.replace(changing.find(divisions), divisions.size(),
                     "<attributes><divisions>4</divisions><time><beats>3</beats><beat-type>4</beat-type></time>"
                     "</attributes>");
    EXPECT_EQ(TReadPiece(TMusicXmlPieceCutter(changing).Piece(4, 5, false).Xml).Attributes(0, 0).at(2),
              "<time><beats>3</beats><beat-type>4</beat-type></time>");

    // A piece from measure 4 has the new divisions and no slash style.
    const TReadPiece last(cutter.Piece(4, 5, false).Xml);
    const std::vector<std::string> attributes = last.Attributes(0, 0);
    EXPECT_EQ(attributes.front(), "<divisions>4</divisions>");
    EXPECT_EQ(std::count_if(attributes.begin(), attributes.end(),
                            [](const std::string& a) { return a.starts_with("<measure-style"); }),
              0);

    // The opening piece is the score's own beginning, unchanged.
    const TXmlElementTree whole(kScore);
    const TReadPiece first(cutter.Piece(0, 2, true).Xml);
    for (std::size_t part = 0; part < 2; ++part)
        for (std::size_t measure = 0; measure < 2; ++measure)
            EXPECT_EQ(first.Tree.Source(first.Measures(part).at(measure)),
                      whole.Source(whole.Children(whole.Children(0, "part").at(part), "measure").at(measure)));
}

TEST(MusicXmlPieces, MeasuresKeepTheirNumbersAndEveryNoteIsInExactlyOnePiece) {
    TPieceOptions options;
    options.StaffMeasures = options.FirstStaffMeasures = 3;
    const std::vector<TMusicXmlPiece> pieces = CutMusicXmlPieces(kScore, options);
    ASSERT_EQ(pieces.size(), 5u);  // three staves a measure: one measure each
    std::vector<std::string> numbers;
    std::vector<std::string> notes;
    std::size_t expectedFirst = 0;
    for (const TMusicXmlPiece& piece : pieces) {
        EXPECT_EQ(piece.FirstMeasure, expectedFirst);
        expectedFirst = piece.EndMeasure;
        const TReadPiece read(piece.Xml);
        for (const std::int32_t measure : read.Measures(0))
            numbers.emplace_back(read.Tree.Attribute(measure, "number").value_or("?"));
        for (std::size_t part = 0; part < 2; ++part)
            for (const std::int32_t measure : read.Measures(part))
                for (const std::int32_t note : read.Tree.Children(measure, "note"))
                    notes.emplace_back(read.Tree.Source(note));
    }
    EXPECT_EQ(numbers, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
    std::vector<std::string> whole = NoteSources(TXmlElementTree(kScore));
    std::sort(whole.begin(), whole.end());
    std::sort(notes.begin(), notes.end());
    EXPECT_EQ(notes, whole);
}

TEST(MusicXmlPieces, TheExportersOwnScoresSurviveTheCutWhole) {
    // Two parts of unequal density through the real exporter.
    test::MidiBuilder midi(1, 480);
    midi.Track().Tempo(0, 500000).TimeSig(0, 3, 2).End();
    auto& melody = midi.Track().Name("Violin");
    for (int i = 0; i < 60; ++i) melody.Note(0, 240, 0, 67 + i % 7);
    melody.End();
    auto& bass = midi.Track().Name("Cello");
    for (int i = 0; i < 10; ++i) bass.Note(0, 1440, 1, 36 + i % 5);
    bass.End();
    const TMidiFile file = test::LoadBytes(midi.Bytes());
    std::vector<const TMidiTrack*> tracks;
    for (const auto& track : file.Tracks())
        if (!track->Notes().empty()) tracks.push_back(track.get());
    const std::string document = BuildMusicXmlText(file, tracks, "duo.mid", 16);

    const TMusicXmlPieceCutter cutter(document);
    std::vector<std::string> notes;
    for (std::size_t first = 0; first < cutter.MeasureCount();) {
        const std::size_t end = cutter.PieceEnd(first, cutter.MeasureCount(), 4, 1000);
        EXPECT_EQ(end - first, 2u);
        const TReadPiece piece(cutter.Piece(first, end, first == 0).Xml);
        EXPECT_EQ(piece.Attributes(1, 0).front(), "<divisions>480</divisions>");
        const std::vector<std::string> own = NoteSources(piece.Tree);
        notes.insert(notes.end(), own.begin(), own.end());
        first = end;
    }
    std::vector<std::string> whole = NoteSources(TXmlElementTree(document));
    std::sort(whole.begin(), whole.end());
    std::sort(notes.begin(), notes.end());
    EXPECT_EQ(notes, whole);
}

TEST(MusicXmlPieces, PartsAreNamedInFullFirstAndShortAfterwards) {
    const TMusicXmlPieceCutter cutter(kScore);
    EXPECT_EQ(cutter.Heading().Title, "Pieces & Parts");
    EXPECT_EQ(cutter.Heading().Subtitle, "First movement");
    EXPECT_EQ(cutter.Heading().Composer, "A. Composer");

    const TReadPiece opening(cutter.Piece(0, 1, true).Xml);
    EXPECT_EQ(opening.PartName(0), "<part-name>Piano</part-name>");
    EXPECT_EQ(opening.PartName(1), "<part-name>Flute</part-name>");
    const TReadPiece later(cutter.Piece(1, 2, false).Xml);
    EXPECT_EQ(later.PartName(0), "<part-name>Pno.</part-name>");
    // Without a short name of its own, a part is called by its name throughout.
    EXPECT_EQ(later.PartName(1), "<part-name>Flute</part-name>");
    EXPECT_NE(later.Xml.find("<part-abbreviation>Flute</part-abbreviation>"), std::string::npos);

    // A single staff is named on its first system only.
    const std::string solo = R"(<score-partwise><part-list><score-part id="P1"><part-name>Oboe</part-name></score-part>
      </part-list><part id="P1"><measure number="1"/><measure number="2"/></part></score-partwise>)";
    const TMusicXmlPieceCutter soloCutter(solo);
    EXPECT_EQ(TReadPiece(soloCutter.Piece(0, 1, true).Xml).PartName(0), "<part-name>Oboe</part-name>");
    EXPECT_EQ(TReadPiece(soloCutter.Piece(1, 2, false).Xml).PartName(0),
              "<part-name print-object=\"no\">Oboe</part-name>");
}

TEST(MusicXmlPieces, RangesAreChosenByMeasureNumber) {
    const TMusicXmlPieceCutter cutter(kScore);
    EXPECT_EQ(cutter.MeasuresNumbered(1, 3), (std::pair<std::size_t, std::size_t>{1, 4}));
    EXPECT_EQ(cutter.MeasuresNumbered(std::nullopt, 0), (std::pair<std::size_t, std::size_t>{0, 1}));
    EXPECT_THROW(cutter.MeasuresNumbered(7, 9), EMusicXmlError);

    TPieceOptions options;
    options.FromNumber = 2;
    options.ToNumber = 3;
    const std::vector<TMusicXmlPiece> pieces = CutMusicXmlPieces(kScore, options);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].FirstMeasure, 2u);
    EXPECT_EQ(pieces[0].EndMeasure, 4u);
    // The first piece of a range is its opening one, and starts with what is in force.
    const TReadPiece piece(pieces[0].Xml);
    EXPECT_EQ(piece.PartName(0), "<part-name>Piano</part-name>");
    EXPECT_EQ(piece.Attributes(0, 0).front(), "<divisions>2</divisions>");
}

TEST(MusicXmlPieces, WhatIsNoScoreIsRefused) {
    for (const std::string text : {"", "<score-partwise>", "<score-timewise><part-list/></score-timewise>",
                                   "<score-partwise><part id=\"P1\"><measure/></part></score-partwise>",
                                   "<score-partwise><part-list/></score-partwise>",
                                   "<score-partwise><part-list/><part id=\"P1\"></part></score-partwise>",
                                   "<score-partwise><part-list></score-partwise></part-list>"})
        EXPECT_THROW(TMusicXmlPieceCutter{text}, EMusicXmlError) << text;
}

TEST(XmlElementTree, SkipsWhatIsNoElementAndKeepsOffsets) {
    const std::string text =
        "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE a [ <!ENTITY x \"<b>\"> ]>\n"
        "<a k='1 > 0' n=\"v\"><!-- <c> --><b><![CDATA[</a>]]>x &amp; &#233;</b><c/></a>";
    const TXmlElementTree tree(text);
    EXPECT_EQ(tree.Root().Name, "a");
    EXPECT_EQ(tree.Attribute(0, "k").value_or(""), "1 > 0");
    EXPECT_EQ(tree.Attribute(0, "n").value_or(""), "v");
    EXPECT_FALSE(tree.Attribute(0, "m").has_value());
    const std::vector<std::int32_t> children = tree.Children(0);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(XmlUnescapedText(tree.Content(children[0])), "</a>x & \xC3\xA9");
    EXPECT_EQ(tree.Source(children[1]), "<c/>");

    // Depth-limited: the root's children are kept, their children only checked.
    const TXmlElementTree shallow(text, 1);
    EXPECT_EQ(shallow.Children(0).size(), 2u);
    EXPECT_EQ(shallow.At(children[0]).FirstChild, -1);
    EXPECT_THROW(TXmlElementTree("<a><b></a></b>", 1), EMusicXmlError);
}

}  // namespace
}  // namespace korvalin
