#pragma once

#include <QByteArray>
#include <QString>
#include <QList>
#include <QPair>
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
        parts +=
            QStringLiteral(
                "  <part id=\"%1\">\n"
                "    <measure number=\"1\">\n"
                "      <attributes>\n"
                "        <divisions>1</divisions>\n"
                "        <key><fifths>0</fifths><mode>major</mode></key>\n"
                "        <time><beats>4</beats><beat-type>4</beat-type></time>\n"
                "        <clef><sign>G</sign><line>2</line></clef>\n"
                "      </attributes>\n"
                "      <direction placement=\"above\"><direction-type><words>%2</words></direction-type></direction>\n"
                "      "
                "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></"
                "note>\n"
                "      "
                "<note><pitch><step>D</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></"
                "note>\n"
                "      "
                "<note><pitch><step>E</step><octave>4</octave></pitch><duration>1</duration><type>quarter</type></"
                "note>\n"
                "      <note><pitch><step>F</step><alter>1</alter><octave>4</octave></pitch><duration>1</duration>"
                "<type>quarter</type><accidental>sharp</accidental></note>\n"
                "    </measure>\n"
                "    <measure number=\"2\">\n"
                "      "
                "<note><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration><type>half</type></note>\n"
                "      "
                "<note><chord/><pitch><step>B</step><octave>4</octave></pitch><duration>2</duration><type>half</type></"
                "note>\n"
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

// A longer score: parts with full and short names, each measure a run of
// quarter notes, so that it is drawn in several pieces and systems.
inline QByteArray LongScoreDocument(const QString& title, const QList<QPair<QString, QString>>& parts, int measures) {
    QString partList;
    QString body;
    for (int index = 0; index < parts.size(); ++index) {
        const QString id = QStringLiteral("P%1").arg(index + 1);
        partList += QStringLiteral(
                        "<score-part id=\"%1\"><part-name>%2</part-name>"
                        "<part-abbreviation>%3</part-abbreviation></score-part>\n")
                        .arg(id, parts[index].first, parts[index].second);
        body += QStringLiteral("<part id=\"%1\">\n").arg(id);
        for (int measure = 1; measure <= measures; ++measure) {
            body += QStringLiteral("<measure number=\"%1\">").arg(measure);
            if (measure == 1)
                body += QStringLiteral(
                            "<attributes><divisions>1</divisions><key><fifths>-2</fifths></key>"
                            "<time><beats>4</beats><beat-type>4</beat-type></time>"
                            "<clef><sign>%1</sign><line>%2</line></clef></attributes>")
                            .arg(index % 2 ? QStringLiteral("F") : QStringLiteral("G"),
                                 index % 2 ? QStringLiteral("4") : QStringLiteral("2"));
            for (int beat = 0; beat < 4; ++beat)
                body += QStringLiteral(
                            "<note><pitch><step>%1</step><octave>%2</octave></pitch>"
                            "<duration>1</duration><type>quarter</type></note>")
                            .arg(QString(QChar(u"CDEFGAB"[(measure + beat) % 7])))
                            .arg(index % 2 ? 3 : 5);
            body += QStringLiteral("</measure>\n");
        }
        body += QStringLiteral("</part>\n");
    }
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"4.0\">\n"
               "<work><work-title>%1</work-title></work>\n<part-list>\n%2</part-list>\n%3"
               "</score-partwise>\n")
        .arg(title, partList, body)
        .toUtf8();
}

inline QString ScoreBase64(const QString& title, const QStringList& partNames) {
    return QString::fromLatin1(ScoreDocument(title, partNames).toBase64());
}

}  // namespace korvalin::test
