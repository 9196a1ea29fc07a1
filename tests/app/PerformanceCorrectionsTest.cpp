// The corrections to a free performance on their own: real combo box and
// edit box, no window. What they hand the export, what they refuse, and what
// the status line says the stage found.

#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "PerformanceCorrections.h"
#include "WindowTestSupport.h"

class TPerformanceCorrectionsTest : public QObject {
    Q_OBJECT

private:
    QComboBox* FMeter = nullptr;
    QLineEdit* FFirstBeat = nullptr;
    TPerformanceCorrections* FCorrections = nullptr;

    void ChooseMeter(const QString& meter) {
        const int index = FMeter->findText(meter);
        QVERIFY2(index > 0, qPrintable(meter));
        FMeter->setCurrentIndex(index);
    }

private slots:
    void init() {
        FMeter = new QComboBox;
        FFirstBeat = new QLineEdit;
        FCorrections = new TPerformanceCorrections({FMeter, FFirstBeat});
    }
    void cleanup() {
        delete FCorrections;
        delete FMeter;
        delete FFirstBeat;
    }

    void untouchedTheStageFindsEverything() {
        QCOMPARE(FMeter->currentIndex(), 0);
        QCOMPARE(FMeter->currentText(), QStringLiteral("Авто"));
        const korvalin::TPerformanceOptions options = FCorrections->Options();
        QVERIFY(!options.HasCorrection());
        QVERIFY(FCorrections->Problem().isEmpty());
    }

    void theChoicesReachTheOptions() {
        ChooseMeter(QStringLiteral("6/8"));
        FFirstBeat->setText(QStringLiteral("1,5:96"));  // a decimal comma, as typed in Russian
        korvalin::TPerformanceOptions options = FCorrections->Options();
        QCOMPARE(options.MeterBeats, 6);
        QCOMPARE(options.MeterBeatType, 8);
        QVERIFY(options.FirstBeatSeconds.has_value());
        QCOMPARE(*options.FirstBeatSeconds, 1.5);
        QCOMPARE(options.FirstBeatBpm, 96.0);

        // Seconds alone leave the tempo to the stage.
        FFirstBeat->setText(QStringLiteral(" 2.25 "));
        options = FCorrections->Options();
        QCOMPARE(*options.FirstBeatSeconds, 2.25);
        QCOMPARE(options.FirstBeatBpm, 0.0);

        // Every meter offered is one the export takes.
        for (const QString& meter : TPerformanceCorrections::Meters()) {
            ChooseMeter(meter);
            QCOMPARE(QStringLiteral("%1/%2")
                         .arg(FCorrections->Options().MeterBeats)
                         .arg(FCorrections->Options().MeterBeatType),
                     meter);
        }
    }

    void aFirstBeatThatDoesNotReadIsAProblemNotACorrection() {
        // The box lets only a time's characters in; what it lets in may still not read.
        FFirstBeat->setText(QStringLiteral("1.5:10"));  // too slow a tempo
        QVERIFY(FCorrections->Problem().contains(QStringLiteral("20")));
        QVERIFY(!FCorrections->Options().FirstBeatSeconds.has_value());
        FFirstBeat->setText(QStringLiteral(":96"));
        QVERIFY(!FCorrections->Problem().isEmpty());
        FCorrections->SetEnglish(true);
        QVERIFY(FCorrections->Problem().startsWith(QStringLiteral("The first beat")));
        FFirstBeat->clear();
        QVERIFY(FCorrections->Problem().isEmpty());
        // Letters never get in.
        QTest::keyClicks(FFirstBeat, QStringLiteral("abc"));
        QVERIFY(FFirstBeat->text().isEmpty());
    }

    void theLanguageChangesTheWordsAndKeepsTheChoice() {
        ChooseMeter(QStringLiteral("3/4"));
        FCorrections->SetEnglish(true);
        QCOMPARE(FMeter->itemText(0), QStringLiteral("Auto"));
        QCOMPARE(FMeter->currentText(), QStringLiteral("3/4"));
        QVERIFY(FFirstBeat->placeholderText().contains(QStringLiteral("bpm")));
    }

    void aNewFileStartsFromWhatIsFoundAndOnlyReadableNotationUsesThem() {
        ChooseMeter(QStringLiteral("3/4"));
        FFirstBeat->setText(QStringLiteral("1"));
        FCorrections->Reset();
        QVERIFY(!FCorrections->Options().HasCorrection());
        FCorrections->SetReadable(false);
        QVERIFY(!FMeter->isEnabled() && !FFirstBeat->isEnabled());
        FCorrections->SetReadable(true);
        QVERIFY(FMeter->isEnabled() && FFirstBeat->isEnabled());
    }

    void theSummarySaysWhatTheStageFound() {
        korvalin::TPerformanceReport found;
        QVERIFY(TPerformanceCorrections::Summary(found, true).isEmpty());
        found.Used = true;
        found.Meter = "3/4";
        found.KeyFifths = 2;
        found.SlowestBpm = 65.6;
        found.FastestBpm = 92.2;
        found.Confidence = 0.804;
        QCOMPARE(TPerformanceCorrections::Summary(found, true),
                 QStringLiteral(" · played freely: 3/4, D major, 66–92 beats a minute, sure 80%"));
        QVERIFY(TPerformanceCorrections::Summary(found, false).startsWith(QStringLiteral(" · сыграно свободно: 3/4")));
        // A steady tempo is one number, not a range of one.
        found.FastestBpm = 66.2;
        QVERIFY(TPerformanceCorrections::Summary(found, true).contains(QStringLiteral(", 66 beats a minute")));
    }
};

KORVALIN_WINDOW_TEST_MAIN(TPerformanceCorrectionsTest)
#include "PerformanceCorrectionsTest.moc"
