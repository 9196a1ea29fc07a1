// Print and Save PDF in the window, with the real viewer and printer: the pages
// read back with poppler's tools, a cancelled job, and the print dialog's seam.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "MainForm.h"
#include "MidiBuilder.h"

using korvalin::test::Bytes;
using korvalin::test::MidiBuilder;

namespace {

class TTestForm : public TfrmMain {
public:
    using TfrmMain::TMessageKind;
    QStringList Errors;
    QString SaveAnswer;
    TFileDialog LastSaveDialog;
    // What the print dialog does: print to this PDF file, or cancel when empty.
    QString PrintTo;
    int PrintDialogs = 0;

protected:
    void ShowMessage(TMessageKind, const QString& text) override { Errors << text; }
    bool AskQuestion(const QString&) override { return false; }
    QString AskOpenFileName(const TFileDialog&) override { return {}; }
    QString AskSaveFileName(const TFileDialog& dialog) override {
        LastSaveDialog = dialog;
        return SaveAnswer;
    }
    bool AskPrinter(QPrinter& printer) override {
        ++PrintDialogs;
        if (PrintTo.isEmpty()) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(PrintTo);
        return true;
    }
};

// A violin and a cello, `measures` measures of 4/4 in eighth notes.
Bytes Duo(int measures) {
    MidiBuilder midi(1, 480);
    midi.Track().Name("Sonatina").Tempo(0, 500000).TimeSig(0, 4, 2).End();
    auto& violin = midi.Track().Name("Violin");
    for (int i = 0; i < measures * 8; ++i) violin.Note(0, 240, 0, 72 + (i * 5) % 12);
    violin.End();
    auto& cello = midi.Track().Name("Cello");
    for (int i = 0; i < measures * 2; ++i) cello.Note(0, 960, 1, 36 + (i * 7) % 12);
    cello.End();
    return midi.Bytes();
}

QString Poppler(const QString& tool, const QStringList& arguments) {
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(60000)) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

int PageCount(const QString& pdf) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(Poppler(QStringLiteral("pdfinfo"), {pdf}));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QString PageText(const QString& pdf, int page) {
    return Poppler(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                                 QString::number(page), pdf, QStringLiteral("-")});
}

QByteArray ReadAll(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TMainFormPrintTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> FFiles;
    std::unique_ptr<TTestForm> FForm;

    QString WriteMidi(const QString& name, const Bytes& bytes) {
        const QString path = FFiles->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) qFatal("cannot write test file");
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
        return path;
    }

    // Opens the duo and shows it.
    void ShowDuo(int measures) {
        TTestForm& f = *FForm;
        f.show();
        QVERIFY(QTest::qWaitFor([&] { return f.FViewerReady(); }, 60000));
        f.OpenMidiFile(WriteMidi(QStringLiteral("sonatina.mid"), Duo(measures)), QString());
        QVERIFY(!f.btnSavePdf->isEnabled());
        QVERIFY(!f.btnPrint->isEnabled());
        f.btnPreview->click();
        QVERIFY(f.btnSavePdf->isEnabled());
        QVERIFY(f.btnPrint->isEnabled());
    }

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        FFiles = std::make_unique<QTemporaryDir>();
        FForm = std::make_unique<TTestForm>();
    }

    void cleanup() {
        FForm.reset();
        FFiles.reset();
    }

    void savePdfLaysTheShownScoreOutOnPages() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        ShowDuo(60);
        TTestForm& f = *FForm;
        const QString target = FFiles->filePath(QStringLiteral("out/Sonatina.pdf"));
        QDir(FFiles->path()).mkdir(QStringLiteral("out"));
        f.SaveAnswer = target;
        f.btnSavePdf->click();
        QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join('\n')));
        QCOMPARE(f.LastSaveDialog.FileName, QStringLiteral("sonatina.pdf"));
        QCOMPARE(f.LastSaveDialog.Filter, QStringLiteral("PDF (*.pdf)|*.pdf"));
        QVERIFY(f.LastSaveDialog.OverwritePrompt);
        QCOMPARE(f.lblStatus->text(), QStringLiteral("PDF сохранён: ") + target);

        const QString info = Poppler(QStringLiteral("pdfinfo"), {target});
        QVERIFY2(info.contains(QStringLiteral("(A4)")), qPrintable(info));
        const int pages = PageCount(target);
        QVERIFY2(pages >= 2, qPrintable(info));
        // The title and the names of the first system on the first page; on
        // every page, a system starting with the names; page numbers from the
        // second page on.
        const QString first = PageText(target, 1);
        QVERIFY2(first.contains(QStringLiteral("Sonatina")), qPrintable(first));
        for (int page = 1; page <= pages; ++page) {
            const QString text = PageText(target, page);
            QVERIFY2(text.contains(QStringLiteral("Violin")) && text.contains(QStringLiteral("Cello")),
                     qPrintable(QStringLiteral("page %1: %2").arg(page).arg(text)));
            if (page >= 2)
                QVERIFY2(text.contains(QRegularExpression(QStringLiteral("(^|\\n)%1\\s*\\f?$").arg(page))),
                         qPrintable(text));
        }
        // Vector pages: no pictures, the notes are drawn.
        QVERIFY(Poppler(QStringLiteral("pdfimages"), {QStringLiteral("-list"), target}).count('\n') <= 2);
    }

    void aCancelledPdfLeavesAnExistingFileAsItWas() {
        ShowDuo(400);
        TTestForm& f = *FForm;
        const QString target = FFiles->filePath(QStringLiteral("kept.pdf"));
        {
            QFile existing(target);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("an older file");
        }
        f.SaveAnswer = target;
        bool cancelled = false;
        auto* watcher = new QTimer(&f);
        connect(watcher, &QTimer::timeout, &f, [&] {
            if (auto* progress = f.findChild<QProgressDialog*>(QStringLiteral("PrintProgress"));
                progress != nullptr && progress->value() > 0) {
                progress->findChild<QPushButton*>()->click();
                cancelled = true;
                watcher->stop();
            }
        });
        watcher->start(20);
        f.btnSavePdf->click();
        QVERIFY(cancelled);
        QCOMPARE(ReadAll(target), QByteArray("an older file"));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("Сохранение PDF отменено."));
        QVERIFY(f.Errors.isEmpty());
        QVERIFY(f.findChild<QProgressDialog*>(QStringLiteral("PrintProgress")) == nullptr);
    }

    void printGoesThroughThePrintDialog() {
        ShowDuo(8);
        TTestForm& f = *FForm;
        // Cancelled in the dialog: nothing is printed.
        f.btnPrint->click();
        QCOMPARE(f.PrintDialogs, 1);
        QVERIFY(f.Errors.isEmpty());

        f.rbEnglish->click();
        f.PrintTo = FFiles->filePath(QStringLiteral("printed.pdf"));
        f.btnPrint->click();
        QCOMPARE(f.PrintDialogs, 2);
        QVERIFY2(f.Errors.isEmpty(), qPrintable(f.Errors.join('\n')));
        QCOMPARE(f.lblStatus->text(), QStringLiteral("The score was sent to the printer."));
        QVERIFY(Poppler(QStringLiteral("pdfinfo"), {f.PrintTo}).contains(QStringLiteral("(letter)")));
        QCOMPARE(PageCount(f.PrintTo), 1);
        QVERIFY(PageText(f.PrintTo, 1).contains(QStringLiteral("Sonatina")));

        // Another file: nothing is shown, nothing to print.
        f.OpenMidiFile(WriteMidi(QStringLiteral("other.mid"), Duo(2)), QString());
        QVERIFY(!f.btnPrint->isEnabled());
        QVERIFY(!f.btnSavePdf->isEnabled());
    }
};

int main(int argc, char* argv[]) {
    QTemporaryDir root;
    if (!root.isValid()) return 2;
    qputenv("TMPDIR", QFile::encodeName(root.path()));
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    int result = 0;
    {
        QApplication application(argc, argv);
        TMainFormPrintTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "MainFormPrintTest.moc"
