// The program's private folder and private files.

#pragma once

#include <QString>

namespace korvalin {

// The folder where the program keeps its temporary files, the score viewer's
// page and the web view's data: one only the user can reach.
struct TPrivateFolder {
    // Canonical, without a trailing separator.
    QString Path;
    // Made for this run only (the usual folder could not be trusted); nobody
    // will look for it again, so the program removes it when it ends.
    bool Fresh = false;
};

// $XDG_RUNTIME_DIR when it is set and private; else the folder
// "Korvalin-<user id>" under QDir::tempPath(), made 0700 if it is missing;
// when that folder is not the user's own or others can write to it, a fresh
// private folder beside it. Throws EFileError when no private folder can be had.
TPrivateFolder OpenPrivateFolder();

// Whether the path is a folder itself (not a link to one) that belongs to the
// user running the program and that nobody else can write to.
bool IsPrivateFolder(const QString& path);

// While it lives, files the program creates are readable and writable by
// their owner only (the process's file-creation mask is narrowed for the
// scope, on the thread that writes), and the named file, when it exists
// already, is made so too: files written over it keep its mode. Throws
// EFileError when that file cannot be made private.
class TPrivateFileMode {
public:
    explicit TPrivateFileMode(const QString& fileName);
    ~TPrivateFileMode();
    TPrivateFileMode(const TPrivateFileMode&) = delete;
    TPrivateFileMode& operator=(const TPrivateFileMode&) = delete;

private:
    unsigned FOldMask;
};

}  // namespace korvalin
