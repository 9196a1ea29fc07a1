// The hourglass cursor over a long command, as a scope guard.

#pragma once

#include <QApplication>

// The hourglass for commands that take noticeable time, restored on every path.
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};
