// The score laid out on pages for a printer or a PDF file.

#include "ScorePrinting.h"

#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPdfWriter>
#include <QPrinter>
#include <QProgressDialog>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <span>

#include "FileIO.h"
#include "ScorePrinter.h"

namespace {

QString Localized(bool english, const QString& russian, const QString& englishText) {
    return english ? englishText : russian;
}

}  // namespace

TScorePrinting::TResult TScorePrinting::RunJob(korvalin::TPageSink& sink, const QPageLayout& layout, bool english) {
    korvalin::TScorePrinter printer;
    QProgressDialog progress(FProgressParent);
    progress.setObjectName(QStringLiteral("PrintProgress"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setWindowTitle(Localized(english, QStringLiteral("Страницы партитуры"), QStringLiteral("Score pages")));
    progress.setCancelButtonText(Localized(english, QStringLiteral("Отмена"), QStringLiteral("Cancel")));
    progress.setMinimumDuration(400);
    progress.setAutoClose(false);
    progress.setAutoReset(false);

    QEventLoop loop;
    TResult result;
    bool ok = false;
    bool finished = false;
    QObject::connect(&printer, &korvalin::TScorePrinter::Progress, &progress, [&](int done, int total) {
        progress.setMaximum(std::max(1, total));
        progress.setValue(done);
        progress.setLabelText(Localized(english, QStringLiteral("Раскладываем партитуру по страницам: такт %1 из %2"),
                                        QStringLiteral("Laying the score out on pages: measure %1 of %2"))
                                  .arg(done)
                                  .arg(total));
    });
    QObject::connect(&printer, &korvalin::TScorePrinter::Finished, &loop, [&](bool success, const QString& reason) {
        ok = success;
        result.Error = reason;
        finished = true;
        loop.quit();
    });
    QObject::connect(&progress, &QProgressDialog::canceled, &printer, &korvalin::TScorePrinter::Cancel);
    printer.Start(FScore, sink, layout);
    if (!finished) loop.exec();
    progress.close();
    if (ok) result.Outcome = TOutcome::poDone;
    else result.Outcome = result.Error.isEmpty() ? TOutcome::poCancelled : TOutcome::poFailed;
    return result;
}

TScorePrinting::TResult TScorePrinting::SavePdf(const QString& fileName, bool english) {
    if (!HasScore()) return {TOutcome::poDeclined, {}};
    // The pages go into memory and the file is written whole at the end, so
    // a cancelled or failed job leaves a file of that name as it was.
    QBuffer bytes;
    bytes.open(QIODevice::WriteOnly);
    const QPageLayout layout = korvalin::DefaultPageLayout();
    TResult result;
    {
        QPdfWriter writer(&bytes);
        writer.setPageLayout(layout);
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        writer.setCreator(QStringLiteral("Korvalin"));
        writer.setTitle(QFileInfo(fileName).completeBaseName());
        korvalin::TPagedDeviceSink sink(writer);
        result = RunJob(sink, layout, english);
    }
    if (result.Outcome != TOutcome::poDone) return result;
    try {
        const QByteArray& pdf = bytes.data();
        korvalin::WriteFileAtomically(
            QFile::encodeName(fileName).toStdString(),
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(pdf.constData()),
                                          static_cast<std::size_t>(pdf.size())));
    } catch (const std::exception& e) {
        return {TOutcome::poFailed, QString::fromUtf8(e.what())};
    }
    return result;
}

TScorePrinting::TResult TScorePrinting::Print(const QString& documentName, const TAskPrinter& askPrinter,
                                              bool english) {
    if (!HasScore()) return {TOutcome::poDeclined, {}};
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(korvalin::DefaultPageLayout());
    printer.setDocName(documentName);
    if (!askPrinter(printer)) return {TOutcome::poDeclined, {}};
    // The paper the user chose with the score's own margins; the printer's
    // page is painted whole, from the paper's corner.
    QPageLayout layout = printer.pageLayout();
    layout.setUnits(QPageLayout::Point);
    layout.setMinimumMargins(QMarginsF());
    layout.setMargins(korvalin::DefaultPageLayout().margins(QPageLayout::Point));
    printer.setFullPage(true);
    korvalin::TPagedDeviceSink sink(printer);
    const TResult result = RunJob(sink, layout, english);
    if (result.Outcome != TOutcome::poDone) printer.abort();
    return result;
}
