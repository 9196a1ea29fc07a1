// The window's print and PDF commands: the score shown in the viewer, laid
// out on pages by the score printer, sent to a printer or saved as a PDF file.

#include <QBuffer>
#include <QEventLoop>
#include <QFileInfo>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QLabel>
#include <QLineEdit>
#include <exception>
#include <span>

#include "FileIO.h"
#include "MainForm.h"
#include "MainFormSupport.h"
#include "ScorePrinter.h"

bool TfrmMain::AskPrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void TfrmMain::UpdatePrintButtons() {
    SetCommandEnabled(btnPrint, !FPrintableScore.isEmpty());
    SetCommandEnabled(btnSavePdf, !FPrintableScore.isEmpty());
}

TfrmMain::TPrintOutcome TfrmMain::RunPrintJob(korvalin::TPageSink& sink, const QPageLayout& layout, QString& error) {
    korvalin::TScorePrinter printer;
    QProgressDialog progress(this);
    progress.setObjectName(QStringLiteral("PrintProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setWindowTitle(Localized(QStringLiteral("Страницы партитуры"), QStringLiteral("Score pages")));
    progress.setCancelButtonText(Localized(QStringLiteral("Отмена"), QStringLiteral("Cancel")));
    progress.setMinimumDuration(400);
    progress.setAutoClose(false);
    progress.setAutoReset(false);

    QEventLoop loop;
    bool ok = false;
    bool finished = false;
    connect(&printer, &korvalin::TScorePrinter::Progress, &progress, [&](int done, int total) {
        progress.setMaximum(std::max(1, total));
        progress.setValue(done);
        progress.setLabelText(Localized(QStringLiteral("Раскладываем партитуру по страницам: такт %1 из %2"),
                                        QStringLiteral("Laying the score out on pages: measure %1 of %2"))
                                  .arg(done)
                                  .arg(total));
    });
    connect(&printer, &korvalin::TScorePrinter::Finished, &loop, [&](bool success, const QString& reason) {
        ok = success;
        error = reason;
        finished = true;
        loop.quit();
    });
    connect(&progress, &QProgressDialog::canceled, &printer, &korvalin::TScorePrinter::Cancel);
    printer.Start(FPrintableScore, sink, layout);
    if (!finished) loop.exec();
    progress.close();
    if (ok) return TPrintOutcome::poDone;
    return error.isEmpty() ? TPrintOutcome::poCancelled : TPrintOutcome::poFailed;
}

void TfrmMain::btnSavePdfClick() {
    if (FPrintableScore.isEmpty()) return;
    const QString shownFile = edtFileName->text();
    PdfSaveDialog.FileName = korvalin::mainform::NameWithExtension(shownFile, QStringLiteral(".pdf"));
    const QFileInfo shown(shownFile);
    PdfSaveDialog.InitialDir = shown.isAbsolute() ? shown.absolutePath() : QString();
    const QString fileName = AskSaveFileName(PdfSaveDialog);
    if (fileName.isEmpty()) return;

    // The pages go into memory and the file is written whole at the end, so
    // a cancelled or failed job leaves a file of that name as it was.
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    const QPageLayout layout = korvalin::DefaultPageLayout();
    QString error;
    TPrintOutcome outcome = TPrintOutcome::poFailed;
    {
        QPdfWriter writer(&bytes);
        writer.setPageLayout(layout);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        writer.setCreator(QStringLiteral("Korvalin"));
        writer.setTitle(QFileInfo(fileName).completeBaseName());
        korvalin::TPagedDeviceSink sink(writer);
        outcome = RunPrintJob(sink, layout, error);
    }
    if (outcome == TPrintOutcome::poDone) {
        try {
            const QByteArray& pdf = bytes.data();
            korvalin::WriteFileAtomically(
                QFile::encodeName(fileName).toStdString(),
                std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(pdf.constData()),
                                              static_cast<std::size_t>(pdf.size())));
        } catch (const std::exception& e) {
            outcome = TPrintOutcome::poFailed;
            error = QString::fromUtf8(e.what());
        }
    }
    switch (outcome) {
    case TPrintOutcome::poDone:
        ShowStatus([this, fileName] {
            return Localized(QStringLiteral("PDF сохранён: "), QStringLiteral("PDF saved: ")) + fileName;
        });
        break;
    case TPrintOutcome::poCancelled:
        lblStatus->setText(
            Localized(QStringLiteral("Сохранение PDF отменено."), QStringLiteral("Saving the PDF was cancelled.")));
        break;
    case TPrintOutcome::poFailed:
        ShowError(Localized(QStringLiteral("Не удалось сохранить PDF:"), QStringLiteral("Could not save the PDF:")),
                  error);
        break;
    }
}

void TfrmMain::btnPrintClick() {
    if (FPrintableScore.isEmpty()) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(korvalin::DefaultPageLayout());
    printer.setDocName(QFileInfo(edtFileName->text()).completeBaseName());
    if (!AskPrinter(printer)) return;
    // The paper the user chose with the score's own margins; the printer's
    // page is painted whole, from the paper's corner.
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    layout.setMinimumMargins(QMarginsF());
    layout.setMargins(korvalin::DefaultPageLayout().margins(QPageLayout::Point));
    printer.setFullPage(true);
    QString error;
    TPrintOutcome outcome = TPrintOutcome::poFailed;
    {
        korvalin::TPagedDeviceSink sink(printer);
        outcome = RunPrintJob(sink, layout, error);
        if (outcome != TPrintOutcome::poDone) printer.abort();
    }
    switch (outcome) {
    case TPrintOutcome::poDone:
        ShowStatus([this] {
            return Localized(QStringLiteral("Партитура отправлена на печать."),
                             QStringLiteral("The score was sent to the printer."));
        });
        break;
    case TPrintOutcome::poCancelled:
        lblStatus->setText(Localized(QStringLiteral("Печать отменена."), QStringLiteral("Printing was cancelled.")));
        break;
    case TPrintOutcome::poFailed:
        ShowError(Localized(QStringLiteral("Не удалось напечатать партитуру:"), QStringLiteral("Could not print the score:")),
                  error);
        break;
    }
}
