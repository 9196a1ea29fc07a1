// The corrections box pair and the status line's words for what the
// performance stage found. The texts in both languages live here, beside
// the controls they belong to.

#include "PerformanceCorrections.h"

#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <cmath>

#include "MidiParser.h"

namespace {

QString Pick(bool english, const char* russian, const char* englishText) {
    return english ? QString::fromUtf8(englishText) : QString::fromUtf8(russian);
}

}  // namespace

TPerformanceCorrections::TPerformanceCorrections(const TControls& controls) : FControls(controls) {
    FControls.Meter->addItem(QString());
    FControls.Meter->addItems(Meters());
    // Digits, one decimal mark, and an optional ":tempo": nothing else can mean a time.
    FControls.FirstBeat->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,5}([.,][0-9]{0,3})?(:[0-9]{0,3}([.,][0-9]{0,2})?)?")),
        FControls.FirstBeat));
    SetEnglish(false);
}

const QStringList& TPerformanceCorrections::Meters() {
    // Simple meters, then compound ones: what free playing is most often in.
    static const QStringList meters{QStringLiteral("2/4"), QStringLiteral("3/4"),  QStringLiteral("4/4"),
                                    QStringLiteral("2/2"), QStringLiteral("3/8"),  QStringLiteral("6/8"),
                                    QStringLiteral("9/8"), QStringLiteral("12/8"), QStringLiteral("5/4")};
    return meters;
}

void TPerformanceCorrections::SetEnglish(bool english) {
    FEnglish = english;
    const QSignalBlocker quiet(FControls.Meter);
    FControls.Meter->setItemText(0, Pick(english, "Авто", "Auto"));
    FControls.Meter->setToolTip(
        Pick(english, "Размер такта; «Авто» — найти по игре", "The meter; Auto finds it from the playing"));
    FControls.FirstBeat->setPlaceholderText(Pick(english, "авто: сек[:темп]", "auto: s[:bpm]"));
    FControls.FirstBeat->setToolTip(Pick(english,
                                         "Где звучит первая сильная доля, в секундах от начала файла, и темп там: "
                                         "например 1,5 или 1,5:96. Пусто — найти по игре.",
                                         "Where the first downbeat sounds, in seconds from the start of the file, "
                                         "and the tempo there: for example 1.5 or 1.5:96. Empty: found from the "
                                         "playing."));
}

void TPerformanceCorrections::Reset() {
    FControls.Meter->setCurrentIndex(0);
    FControls.FirstBeat->clear();
}

void TPerformanceCorrections::SetReadable(bool readable) {
    FControls.Meter->setEnabled(readable);
    FControls.FirstBeat->setEnabled(readable);
}

korvalin::TPerformanceOptions TPerformanceCorrections::Options() const {
    korvalin::TPerformanceOptions options;
    if (FControls.Meter->currentIndex() > 0)
        korvalin::ParseMeterCorrection(FControls.Meter->currentText().toStdString(), options);
    const QString firstBeat = FControls.FirstBeat->text().trimmed();
    if (!firstBeat.isEmpty()) korvalin::ParseFirstBeatCorrection(firstBeat.toStdString(), options);
    return options;
}

QString TPerformanceCorrections::Problem() const {
    const QString firstBeat = FControls.FirstBeat->text().trimmed();
    korvalin::TPerformanceOptions probe;
    if (firstBeat.isEmpty() || korvalin::ParseFirstBeatCorrection(firstBeat.toStdString(), probe)) return {};
    return Pick(FEnglish,
                "Первая доля задаётся в секундах от начала файла, с темпом через двоеточие или без него: "
                "например 1,5 или 1,5:96 (темп от 20 до 400).",
                "The first beat is given in seconds from the start of the file, with or without a tempo after "
                "a colon: for example 1.5 or 1.5:96 (a tempo of 20 to 400).");
}

QString TPerformanceCorrections::Summary(const korvalin::TPerformanceReport& found, bool english) {
    if (!found.Used) return {};
    const QLocale locale(english ? QStringLiteral("en_US") : QStringLiteral("ru_RU"));
    const auto whole = [](double bpm) { return static_cast<int>(std::lround(bpm)); };
    const QString tempo = whole(found.SlowestBpm) == whole(found.FastestBpm)
                              ? QString::number(whole(found.SlowestBpm))
                              : QStringLiteral("%1–%2").arg(whole(found.SlowestBpm)).arg(whole(found.FastestBpm));
    return Pick(english, " · сыграно свободно: %1, %2, %3 ударов в минуту, уверенность %4%",
                " · played freely: %1, %2, %3 beats a minute, sure %4%")
        .arg(QString::fromStdString(found.Meter),
             QString::fromStdString(korvalin::KeyNameFromFifths(found.KeyFifths, found.KeyMinor)), tempo,
             locale.toString(whole(found.Confidence * 100.0)));
}
