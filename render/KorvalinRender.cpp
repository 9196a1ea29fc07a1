// korvalin-render: the pages of a MusicXML score without a window, for
// `korvalin-cli render`, which hands the score over on standard input. The
// command-line tool itself stays free of Qt and starts at once; this helper
// carries the web engine that lays the score out.
//
//   korvalin-render pdf|svg OUTPUT [--from A] [--to B] < score.musicxml
//
// A PDF is written whole; SVG pages go to OUTPUT-1.svg, OUTPUT-2.svg, ...
// (OUTPUT without its ".svg"). Exit status 0 done, 1 refused (message on
// standard error), 2 wrong usage.
#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QFile>
#include <QPdfWriter>

#include <cstdint>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "FileIO.h"
#include "ScorePrinter.h"

namespace {

std::span<const std::uint8_t> Bytes(const QByteArray& data) {
    return {reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size())};
}

int Usage() {
    std::cerr << "usage: korvalin-render pdf|svg OUTPUT [--from A] [--to B] < score.musicxml\n";
    return 2;
}

// Runs the printer to its end; the error text, empty when all went well.
QString Print(korvalin::TScorePrinter& printer, const QByteArray& score, korvalin::TPageSink& sink,
              const QPageLayout& layout, std::optional<std::int64_t> from, std::optional<std::int64_t> to) {
    QEventLoop loop;
    QString error;
    bool finished = false;
    QObject::connect(&printer, &korvalin::TScorePrinter::Finished, &loop, [&](bool ok, const QString& reason) {
        error = ok ? QString() : (reason.isEmpty() ? QStringLiteral("The pages could not be made") : reason);
        finished = true;
        loop.quit();
    });
    printer.Start(score, sink, layout, from, to);
    if (!finished) loop.exec();
    return error;
}

}  // namespace

int main(int argc, char* argv[]) {
    // Rendering needs no screen: without one named, none is looked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2) return Usage();
    const QString format = arguments[0];
    const QString output = arguments[1];
    if (format != QStringLiteral("pdf") && format != QStringLiteral("svg")) return Usage();
    std::optional<std::int64_t> from;
    std::optional<std::int64_t> to;
    for (qsizetype i = 2; i < arguments.size(); i += 2) {
        bool ok = false;
        const std::int64_t value = i + 1 < arguments.size() ? arguments[i + 1].toLongLong(&ok) : 0;
        if (!ok) return Usage();
        if (arguments[i] == QStringLiteral("--from")) from = value;
        else if (arguments[i] == QStringLiteral("--to")) to = value;
        else return Usage();
    }

    // The printer's engraver comes up while the score is still on its way.
    korvalin::TScorePrinter printer;
    QByteArray score;
    {
        QEventLoop loop;
        std::thread reader([&score, &loop] {
            QFile input;
            if (input.open(stdin, QIODevice::ReadOnly)) score = input.readAll();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        reader.join();
    }
    const QPageLayout layout = korvalin::DefaultPageLayout();

    try {
        if (format == QStringLiteral("pdf")) {
            QBuffer bytes;
            bytes.open(QIODevice::WriteOnly);
            QString error;
            {
                QPdfWriter writer(&bytes);
                writer.setPageLayout(layout);
                writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
                writer.setCreator(QStringLiteral("Korvalin"));
                korvalin::TPagedDeviceSink sink(writer);
                error = Print(printer, score, sink, layout, from, to);
            }
            if (!error.isEmpty()) {
                std::cerr << error.toStdString() << '\n';
                return 1;
            }
            korvalin::WriteFileAtomically(QFile::encodeName(output).toStdString(), Bytes(bytes.data()));
        } else {
            korvalin::TSvgPagesSink sink(layout);
            const QString error = Print(printer, score, sink, layout, from, to);
            if (!error.isEmpty()) {
                std::cerr << error.toStdString() << '\n';
                return 1;
            }
            const QString base =
                output.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) ? output.chopped(4) : output;
            for (qsizetype page = 0; page < sink.Pages().size(); ++page)
                korvalin::WriteFileAtomically(
                    QFile::encodeName(QStringLiteral("%1-%2.svg").arg(base).arg(page + 1)).toStdString(),
                    Bytes(sink.Pages()[page]));
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
