// Printing and PDF for the window: the score last shown, laid out on pages by
// the score printer behind a progress dialog with a Cancel button, sent to a
// printer or written whole to a PDF file. What is said to the user about the
// outcome is the window's business.

#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QPageLayout;
class QPrinter;
class QWidget;

namespace korvalin {
class TPageSink;
}

class TScorePrinting {
public:
    enum class TOutcome { poDone, poCancelled, poFailed, poDeclined };
    struct TResult {
        TOutcome Outcome = TOutcome::poFailed;
        // The failure's own text; empty unless Outcome is poFailed.
        QString Error;
    };
    // The system's print dialog, or a test's answer: false when the user cancels it.
    using TAskPrinter = std::function<bool(QPrinter&)>;

    // The progress dialog is a window-modal child of progressParent.
    explicit TScorePrinting(QWidget* progressParent) : FProgressParent(progressParent) {}

    // The MusicXML of the score shown; empty while none is.
    const QByteArray& Score() const { return FScore; }
    void SetScore(const QByteArray& score) { FScore = score; }
    bool HasScore() const { return !FScore.isEmpty(); }

    // Writes the score's pages to fileName; a cancelled or failed job leaves
    // a file of that name as it was. poDeclined when there is no score.
    TResult SavePdf(const QString& fileName, bool english);
    // Asks for a printer and prints on it; poDeclined when there is no score
    // or the dialog was cancelled.
    TResult Print(const QString& documentName, const TAskPrinter& askPrinter, bool english);

private:
    TResult RunJob(korvalin::TPageSink& sink, const QPageLayout& layout, bool english);

    QWidget* FProgressParent;
    QByteArray FScore;
};
