// Small helpers the window's source files share.
#pragma once

#include <QFileInfo>
#include <QString>
#include <QWidget>

#include <string>

namespace korvalin::mainform {

// Sets a flag for the life of a scope and clears it on every path.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TFlagGuard() { FFlag = false; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;

private:
    bool& FFlag;
};

// Suspends a widget's painting for a bulk change, resumed on every path.
class TUpdatesSuspended {
public:
    explicit TUpdatesSuspended(QWidget* widget) : FWidget(widget) { FWidget->setUpdatesEnabled(false); }
    ~TUpdatesSuspended() { FWidget->setUpdatesEnabled(true); }
    TUpdatesSuspended(const TUpdatesSuspended&) = delete;
    TUpdatesSuspended& operator=(const TUpdatesSuspended&) = delete;

private:
    QWidget* FWidget;
};

// "song.mid" gives "song.musicxml" for the extension ".musicxml"; a name
// without an extension gets one; only the file's own name is kept.
inline QString NameWithExtension(const QString& shownFile, const QString& extension) {
    const QString name = QFileInfo(shownFile).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot >= 0 ? name.left(dot) : name) + extension;
}

inline QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A name from a file as the window shows it: many files end their track names
// with a zero byte or a carriage return, which would show as a box. The model
// keeps the name as it was read.
inline QString DisplayName(const std::string& name) {
    QString text = FromUtf8(name);
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text;
}

}  // namespace korvalin::mainform
