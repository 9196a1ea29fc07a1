// The interface language: every caption of the window in Russian and English.

#include "MainForm.h"
#include "TrackList.h"
#include "PerformanceCorrections.h"
#include "ScoreViewer.h"
#include "WebViewHost.h"
#include "MainFormSupport.h"

#include <QAbstractButton>
#include <QSignalBlocker>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

using korvalin::TClefMode;
using korvalin::TMidiTrack;
using korvalin::mainform::TFlagGuard;
using korvalin::mainform::TUpdatesSuspended;

// ---------------------------------------------------------------------------
// Language

QString TfrmMain::Localized(const QString& russian, const QString& english) const {
    return FEnglish ? english : russian;
}

void TfrmMain::LanguageClick() {
    FEnglish = rbEnglish->isChecked();
    ApplyLanguage();
}

void TfrmMain::ApplyQtTranslations() {
    if (!FEnglish && FQtTranslators.isEmpty()) {
        const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        for (const QString& catalog : {QStringLiteral("qtbase"), QStringLiteral("qtwebengine")}) {
            auto* translator = new QTranslator(this);
            // Without the translations installed Qt speaks English; the
            // window's own texts are unaffected.
            if (translator->load(QLocale(QLocale::Russian), catalog, QStringLiteral("_"), folder) &&
                QCoreApplication::installTranslator(translator))
                FQtTranslators << translator;
            else delete translator;
        }
    } else if (FEnglish) {
        for (QTranslator* translator : std::as_const(FQtTranslators)) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        FQtTranslators.clear();
    }
}

void TfrmMain::ApplyLanguage() {
    ApplyQtTranslations();
    lblFileCaption->setText(Localized(QStringLiteral("MIDI-файл — откройте кнопкой или перетащите в окно"),
                                      QStringLiteral("MIDI file — open with the button or drag it into the window")));
    btnRecent->setText(Localized(QStringLiteral("Недавние ▼"), QStringLiteral("Recent ▼")));
    btnShowViewer->setText(Localized(QStringLiteral("Показать просмотр"), QStringLiteral("Show viewer")));
    btnOpen->setText(Localized(QStringLiteral("Открыть..."), QStringLiteral("Open...")));
    lvTracks->headerItem()->setText(1, Localized(QStringLiteral("Партия"), QStringLiteral("Part")));
    lvTracks->headerItem()->setText(2, Localized(QStringLiteral("Нот"), QStringLiteral("Notes")));
    lvTracks->headerItem()->setText(3, Localized(QStringLiteral("Диапазон"), QStringLiteral("Range")));
    lvTracks->headerItem()->setText(4, Localized(QStringLiteral("Ключ"), QStringLiteral("Clef")));
    lblPartName->setText(Localized(QStringLiteral("Название партии"), QStringLiteral("Part name")));
    lblClef->setText(Localized(QStringLiteral("Ключ"), QStringLiteral("Clef")));
    lblGrid->setText(Localized(QStringLiteral("Сетка округления"), QStringLiteral("Quantization grid")));
    lblNotation->setText(Localized(QStringLiteral("Нотация"), QStringLiteral("Notation")));
    lblMeter->setText(Localized(QStringLiteral("Размер"), QStringLiteral("Meter")));
    lblFirstBeat->setText(Localized(QStringLiteral("Первая доля"), QStringLiteral("First beat")));
    btnSelectAll->setText(Localized(QStringLiteral("Выбрать все"), QStringLiteral("Select all")));
    btnSelectNone->setText(Localized(QStringLiteral("Снять выбор"), QStringLiteral("Clear selection")));
    btnPreview->setText(Localized(QStringLiteral("Показать партитуру"), QStringLiteral("Show score")));
    btnExport->setText(Localized(QStringLiteral("Сохранить MusicXML..."), QStringLiteral("Save MusicXML...")));
    btnOpenExternal->setText(Localized(QStringLiteral("Открыть сохранённый файл"), QStringLiteral("Open saved file")));
    btnPlayAll->setText(Localized(QStringLiteral("▶ Исходный MIDI"), QStringLiteral("▶ Original MIDI")));
    btnPlayTrack->setText(Localized(QStringLiteral("▶ Выбранная партия"), QStringLiteral("▶ Selected part")));
    btnStop->setText(Localized(QStringLiteral("■ Стоп"), QStringLiteral("■ Stop")));
    btnPlayTransposed->setText(
        Localized(QStringLiteral("▶ С новыми настройками"), QStringLiteral("▶ With new settings")));
    lblNewKey->setText(Localized(QStringLiteral("Новая тональность"), QStringLiteral("New key")));
    lblNewTempo->setText(Localized(QStringLiteral("Новый темп, BPM"), QStringLiteral("New tempo, BPM")));
    btnSaveMidi->setText(Localized(QStringLiteral("Сохранить новый MIDI..."), QStringLiteral("Save new MIDI...")));
    btnPreviewTransposed->setText(
        Localized(QStringLiteral("Показать транспонированную партитуру"), QStringLiteral("Show transposed score")));
    lblViewerTitle->setText(Localized(QStringLiteral("Предпросмотр партитуры"), QStringLiteral("Score preview")));
    btnFitWidth->setText(Localized(QStringLiteral("По ширине"), QStringLiteral("Fit width")));
    btnFullScreen->setText(FViewerFullScreen
                               ? Localized(QStringLiteral("Вернуть интерфейс"), QStringLiteral("Restore interface"))
                               : Localized(QStringLiteral("Во весь экран"), QStringLiteral("Full screen")));
    btnCollapseViewer->setText(Localized(QStringLiteral("Свернуть"), QStringLiteral("Collapse")));
    btnPrint->setText(Localized(QStringLiteral("Печать…"), QStringLiteral("Print…")));
    btnSavePdf->setText(Localized(QStringLiteral("Сохранить PDF…"), QStringLiteral("Save PDF…")));
    ApplyAudioLanguage();

    FTracks->SetEnglish(FEnglish);
    FCorrections->SetEnglish(FEnglish);
    {
        // Refilled in the new language; the choice stays and is not stored again.
        const int notationIndex = cbNotation->currentIndex();
        const QSignalBlocker quiet(cbNotation);
        const TUpdatesSuspended suspended(cbNotation);
        cbNotation->clear();
        cbNotation->addItems({Localized(QStringLiteral("Как сыграно"), QStringLiteral("As played")),
                              Localized(QStringLiteral("Для чтения"), QStringLiteral("Readable"))});
        cbNotation->setCurrentIndex(notationIndex);
    }
    UpdateGridChoices();

    OpenDialog.Filter = Localized(QStringLiteral("MIDI-файлы (*.mid;*.midi)|*.mid;*.midi|Все файлы (*.*)|*.*"),
                                  QStringLiteral("MIDI files (*.mid;*.midi)|*.mid;*.midi|All files (*.*)|*.*"));
    MidiSaveDialog.Filter = Localized(QStringLiteral("MIDI-файлы (*.mid)|*.mid|Все файлы (*.*)|*.*"),
                                      QStringLiteral("MIDI files (*.mid)|*.mid|All files (*.*)|*.*"));

    if (FSourceMidiFile.isEmpty()) {
        lblTempo->setText(Localized(QStringLiteral("Темп: —"), QStringLiteral("Tempo: —")));
        lblKeySignature->setText(Localized(QStringLiteral("Тональность: —"), QStringLiteral("Key: —")));
        lblStatus->setText(Localized(QStringLiteral("Откройте MIDI-файл, чтобы увидеть музыкальные дорожки."),
                                     QStringLiteral("Open a MIDI file to see its musical tracks.")));
    } else {
        ShowTempoAndKeyLabels();
        // A status line the window described is said again in the new language;
        // one it cannot say again gives way to the plain account.
        if (FStatusDescription && lblStatus->text() == FStatusShown) ShowStatus(FStatusDescription);
        else lblStatus->setText(Localized(QStringLiteral("MIDI-файл загружен."), QStringLiteral("MIDI file loaded.")));
    }
    ApplyShortcutTexts();
    // The score view speaks the window's language too.
    FViewer->SetLanguage(FEnglish);
    RelayoutPanels();
}
