// The status line, kept as a description rather than a frozen text, so that a
// language switch says the same thing again in the other language.

#include <QLabel>

#include <utility>

#include "MainForm.h"

void TfrmMain::ShowStatus(std::function<QString()> describe) {
    FStatusDescription = std::move(describe);
    FStatusShown = FStatusDescription();
    lblStatus->setText(FStatusShown);
}

QString TfrmMain::CurrentReadableSummary() const {
    return FReadableReport ? ReadableSummary(*FReadableReport) : QString();
}
