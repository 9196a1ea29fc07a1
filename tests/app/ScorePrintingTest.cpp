// Printing and PDF without a window: the real score printer behind the
// collaborator, the print dialog answered by a function, the files read back.

#include <QFile>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <memory>

#include "ScorePrinting.h"
#include "TestScores.h"
#include "WindowTestSupport.h"

namespace {

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& fileName, const QByteArray& bytes) {
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

class TScorePrintingTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FDir;
    std::unique_ptr<QWidget> FParent;
    std::unique_ptr<TScorePrinting> FPrinting;

    QString File(const QString& name) const { return FDir->filePath(name); }

private slots:
    void init() {
        FDir = std::make_unique<QTemporaryDir>();
        FParent = std::make_unique<QWidget>();
        FPrinting = std::make_unique<TScorePrinting>(FParent.get());
    }
    void cleanup() {
        FPrinting.reset();
        FParent.reset();
        FDir.reset();
    }

    void withoutAScoreNothingIsAskedOrWritten() {
        QVERIFY(!FPrinting->HasScore());
        QCOMPARE(FPrinting->SavePdf(File(QStringLiteral("a.pdf")), false).Outcome,
                 TScorePrinting::TOutcome::poDeclined);
        QVERIFY(!QFile::exists(File(QStringLiteral("a.pdf"))));
        int asked = 0;
        const auto result = FPrinting->Print(
            QStringLiteral("a"), [&asked](QPrinter&) { return ++asked > 0; }, false);
        QCOMPARE(result.Outcome, TScorePrinting::TOutcome::poDeclined);
        QCOMPARE(asked, 0);
    }

    void aPdfIsWrittenWholeWhereAsked() {
        FPrinting->SetScore(korvalin::test::ScoreDocument(QStringLiteral("Minuet"), {QStringLiteral("Flute")}));
        QVERIFY(WriteAll(File(QStringLiteral("minuet.pdf")), "old"));
        const auto result = FPrinting->SavePdf(File(QStringLiteral("minuet.pdf")), true);
        QCOMPARE(result.Outcome, TScorePrinting::TOutcome::poDone);
        QVERIFY(result.Error.isEmpty());
        QVERIFY(ReadAll(File(QStringLiteral("minuet.pdf"))).startsWith("%PDF"));
    }

    void aPdfThatCannotBeWrittenFailsWithTheReason() {
        FPrinting->SetScore(korvalin::test::ScoreDocument(QStringLiteral("Minuet"), {QStringLiteral("Flute")}));
        const QString target = File(QStringLiteral("no such folder/minuet.pdf"));
        const auto result = FPrinting->SavePdf(target, false);
        QCOMPARE(result.Outcome, TScorePrinting::TOutcome::poFailed);
        QVERIFY(!result.Error.isEmpty());
        QVERIFY(!QFile::exists(target));
    }

    void aScoreThatCannotBeLaidOutLeavesTheOldFile() {
        FPrinting->SetScore("<not-a-score/>");
        QVERIFY(WriteAll(File(QStringLiteral("keep.pdf")), "old"));
        const auto result = FPrinting->SavePdf(File(QStringLiteral("keep.pdf")), false);
        QVERIFY(result.Outcome != TScorePrinting::TOutcome::poDone);
        QCOMPARE(ReadAll(File(QStringLiteral("keep.pdf"))), QByteArray("old"));
    }

    void printingGoesToThePrinterTheDialogChose() {
        FPrinting->SetScore(korvalin::test::ScoreDocument(QStringLiteral("Minuet"), {QStringLiteral("Flute")}));
        const auto declined = FPrinting->Print(
            QStringLiteral("minuet"), [](QPrinter&) { return false; }, false);
        QCOMPARE(declined.Outcome, TScorePrinting::TOutcome::poDeclined);

        QString documentName;
        const QString output = File(QStringLiteral("printed.pdf"));
        const auto printed = FPrinting->Print(
            QStringLiteral("minuet"),
            [&documentName, &output](QPrinter& printer) {
                documentName = printer.docName();
                printer.setOutputFormat(QPrinter::PdfFormat);
                printer.setOutputFileName(output);
                return true;
            },
            false);
        QCOMPARE(printed.Outcome, TScorePrinting::TOutcome::poDone);
        QCOMPARE(documentName, QStringLiteral("minuet"));
        QVERIFY(ReadAll(output).startsWith("%PDF"));
    }
};

KORVALIN_WINDOW_TEST_MAIN(TScorePrintingTest)
#include "ScorePrintingTest.moc"
