// Pause and resume, and the window's keyboard shortcuts, which follow the
// desktop's conventions and are named in the tips of the buttons they press.

#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

#include "MainForm.h"
#include "MidiSequencer.h"
#include "Playback.h"

namespace {

QString WithKeys(const QString& text, const QString& keys) {
    return text + QStringLiteral(" (") + keys + QLatin1Char(')');
}

}  // namespace

void TfrmMain::btnPauseClick() {
    if (!FPlayback->IsOpen()) return;
    if (FPlayback->IsPaused()) {
        const int resumed = FPlayback->Resume();
        if (resumed != korvalin::srOk) {
            ShowError(Localized(QStringLiteral("Не удалось продолжить воспроизведение:"),
                                QStringLiteral("Could not resume playback:")),
                      MciErrorText(resumed));
            return;
        }
        if (FPlayingStatus) ShowStatus(FPlayingStatus);
    } else {
        FPlayback->Pause();
        // What was playing comes back to the line when the play goes on.
        FPlayingStatus = FStatusDescription;
        ShowStatus([this] {
            return Localized(QStringLiteral("Воспроизведение приостановлено."), QStringLiteral("Playback paused."));
        });
    }
    UpdatePauseButton();
}

void TfrmMain::UpdatePauseButton() {
    const bool paused = FPlayback->IsPaused();
    SetCommandEnabled(btnPause, FPlayback->IsOpen());
    btnPause->setIcon(style()->standardIcon(paused ? QStyle::SP_MediaPlay : QStyle::SP_MediaPause));
    const QString tip = paused ? Localized(QStringLiteral("Продолжить"), QStringLiteral("Resume"))
                               : Localized(QStringLiteral("Пауза"), QStringLiteral("Pause"));
    btnPause->setToolTip(WithKeys(tip, Localized(QStringLiteral("Пробел"), QStringLiteral("Space"))));
    btnPause->setAccessibleName(tip);
    if (FPauseShortcut != nullptr) FPauseShortcut->setEnabled(FPlayback->IsOpen());
}

void TfrmMain::CreateShortcuts() {
    ConnectCommand(btnPause, &TfrmMain::btnPauseClick);
    // A shortcut presses its button, so it does what the button does and
    // nothing while the button is disabled.
    const auto press = [this](const QKeySequence& keys, QPushButton* button) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [button] {
            if (button->isEnabled()) button->click();
        });
        return shortcut;
    };
    FPauseShortcut = press(QKeySequence(Qt::Key_Space), btnPause);
    press(QKeySequence(Qt::CTRL | Qt::Key_O), btnOpen);
    press(QKeySequence(Qt::CTRL | Qt::Key_P), btnPrint);
    press(QKeySequence(Qt::CTRL | Qt::Key_S), btnExport);
    press(QKeySequence(Qt::Key_F11), btnFullScreen);
    press(QKeySequence(Qt::CTRL | Qt::Key_Plus), btnZoomIn);
    // Ctrl+= as well: on most keyboards + is = with Shift.
    press(QKeySequence(Qt::CTRL | Qt::Key_Equal), btnZoomIn);
    press(QKeySequence(Qt::CTRL | Qt::Key_Minus), btnZoomOut);
    UpdatePauseButton();
}

void TfrmMain::ApplyShortcutTexts() {
    btnOpen->setToolTip(WithKeys(Localized(QStringLiteral("Открыть MIDI-файл"), QStringLiteral("Open a MIDI file")),
                                 QStringLiteral("Ctrl+O")));
    btnPrint->setToolTip(
        WithKeys(Localized(QStringLiteral("Печать"), QStringLiteral("Print")), QStringLiteral("Ctrl+P")));
    btnExport->setToolTip(WithKeys(Localized(QStringLiteral("Сохранить MusicXML"), QStringLiteral("Save MusicXML")),
                                   QStringLiteral("Ctrl+S")));
    btnFullScreen->setToolTip(
        WithKeys(Localized(QStringLiteral("Во весь экран и обратно"), QStringLiteral("Full screen and back")),
                 QStringLiteral("F11")));
    btnZoomIn->setToolTip(
        WithKeys(Localized(QStringLiteral("Крупнее"), QStringLiteral("Zoom in")), QStringLiteral("Ctrl++")));
    btnZoomOut->setToolTip(
        WithKeys(Localized(QStringLiteral("Мельче"), QStringLiteral("Zoom out")), QStringLiteral("Ctrl+-")));
    UpdatePauseButton();
}
