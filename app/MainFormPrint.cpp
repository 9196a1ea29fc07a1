// The window's print and PDF commands: where the PDF goes, and what the
// status line and messages say about how the job ended.

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

#include "MainForm.h"
#include "MainFormSupport.h"
#include "ScorePrinting.h"

bool TfrmMain::AskPrinter(QPrinter& printer) {
    QPrintDialog dialog(&printer, this);
    return dialog.exec() == QDialog::Accepted;
}

void TfrmMain::CreatePrinting() { FPrinting = std::make_unique<TScorePrinting>(this); }

void TfrmMain::UpdatePrintButtons() {
    SetCommandEnabled(btnPrint, FPrinting->HasScore());
    SetCommandEnabled(btnSavePdf, FPrinting->HasScore());
}

void TfrmMain::btnSavePdfClick() {
    if (!FPrinting->HasScore()) return;
    const QString shownFile = edtFileName->text();
    PdfSaveDialog.FileName = korvalin::mainform::NameWithExtension(shownFile, QStringLiteral(".pdf"));
    const QFileInfo shown(shownFile);
    PdfSaveDialog.InitialDir = shown.isAbsolute() ? shown.absolutePath() : QString();
    const QString fileName = AskSaveFileName(PdfSaveDialog);
    if (fileName.isEmpty()) return;

    const TScorePrinting::TResult result = FPrinting->SavePdf(fileName, FEnglish);
    switch (result.Outcome) {
        case TScorePrinting::TOutcome::poDone:
            ShowStatus([this, fileName] {
                return Localized(QStringLiteral("PDF сохранён: "), QStringLiteral("PDF saved: ")) + fileName;
            });
            break;
        case TScorePrinting::TOutcome::poCancelled:
            lblStatus->setText(
                Localized(QStringLiteral("Сохранение PDF отменено."), QStringLiteral("Saving the PDF was cancelled.")));
            break;
        case TScorePrinting::TOutcome::poFailed:
            ShowError(Localized(QStringLiteral("Не удалось сохранить PDF:"), QStringLiteral("Could not save the PDF:")),
                      result.Error);
            break;
        case TScorePrinting::TOutcome::poDeclined: break;
    }
}

void TfrmMain::btnPrintClick() {
    const TScorePrinting::TResult result = FPrinting->Print(
        QFileInfo(edtFileName->text()).completeBaseName(), [this](QPrinter& printer) { return AskPrinter(printer); },
        FEnglish);
    switch (result.Outcome) {
        case TScorePrinting::TOutcome::poDone:
            ShowStatus([this] {
                return Localized(QStringLiteral("Партитура отправлена на печать."),
                                 QStringLiteral("The score was sent to the printer."));
            });
            break;
        case TScorePrinting::TOutcome::poCancelled:
            lblStatus->setText(
                Localized(QStringLiteral("Печать отменена."), QStringLiteral("Printing was cancelled.")));
            break;
        case TScorePrinting::TOutcome::poFailed:
            ShowError(Localized(QStringLiteral("Не удалось напечатать партитуру:"),
                                QStringLiteral("Could not print the score:")),
                      result.Error);
            break;
        case TScorePrinting::TOutcome::poDeclined: break;
    }
}
