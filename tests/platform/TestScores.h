#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace korvalin::test {

// A small hand-written MusicXML 4.0 partwise document: one part per name, two
// measures each (a C major scale fragment and a half-note chord), so a test
// can tell scores apart by their title. The compact drawing mode leaves part
// names out, so each part also carries its name as a words direction, which
// is drawn.
inline QByteArray ScoreDocument(const QString& title, const QStringList& partNames) {
    QString partList;
    QString parts;
    for (int index = 0; index < partNames.size(); ++index) {
        const QString id = QStringLiteral("P%1").arg(index + 1);
        partList += QStringLiteral(
                        "    <score-part id=\"%1\">\n"
                        "      <part-name>%2</part-name>\n"
                        "    </score-part>\n")
                        .arg(id, partNames[index]);
        parts += QStringLiteral(
                     "  <part id=\"%1\">\n"
                     "    <measure number=\"1\">\n"
                     "      <attributes>\n"
                     "        <divisions>1</divisions>\n"
                     "        <key><fifths>0</fifths><mode>major</mode></key>\n"
                     "        <time><beats>4</beats><beat-type>4</beat-type></time>\n"
                     "        <clef><sign>G</sign><line>2</line></clef>\n"
                     "      </attributes>\n"
                     "      <direction placement=\"above\"><direction-type><words>%2</words></direction-type></direction>\n"
                     "      <note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></note>\n"
                     "      <note><pitch><step>D</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></note>\n"
                     "      <note><pitch><step>E</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></note>\n"
                     "      <note><pitch><step>F</step><alter>1</alter><octave>4</octave></pitch><duration>1</duration>"
                     "<type>quarter</type><accidental>sharp</accidental></note>\n"
                     "    </measure>\n"
                     "    <measure number=\"2\">\n"
                     "      <note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration><type>half</type></note>\n"
                     "      <note><chord/><pitch><step>B</step><octave>4</octave></pitch><duration>2</duration><type>half</type></note>\n"
                     "      <note><rest/><duration>2</duration><type>half</type></note>\n"
                     "      <barline location=\"right\"><bar-style>light-heavy</bar-style></barline>\n"
                     "    </measure>\n"
                     "  </part>\n")
                     .arg(id, partNames[index]);
    }
    const QString document = QStringLiteral(
                                 "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                                 "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                                 "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
                                 "<score-partwise version=\"4.0\">\n"
                                 "  <work><work-title>%1</work-title></work>\n"
                                 "  <part-list>\n%2  </part-list>\n%3</score-partwise>\n")
                                 .arg(title, partList, parts);
    return document.toUtf8();
}

inline QString ScoreBase64(const QString& title, const QStringList& partNames) {
    return QString::fromLatin1(ScoreDocument(title, partNames).toBase64());
}

}  // namespace korvalin::test
