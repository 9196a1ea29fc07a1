// Stopping cleanly on SIGINT, SIGTERM and SIGHUP.

#pragma once

#include <csignal>
#include <functional>
#include <thread>

namespace korvalin::cli {

// While it lives, SIGINT, SIGTERM and SIGHUP no longer end the process at once:
// a thread of its own receives them, runs `onStop` (which removes what is half
// written) and then lets the signal end the process, so a shell sees it ended
// by Ctrl+C as usual. Create it before any other thread, which then inherits
// the blocked signals.
class TStopSignals {
public:
    explicit TStopSignals(std::function<void()> onStop);
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    void Wait();

    std::function<void()> FOnStop;
    sigset_t FSignals{};
    sigset_t FOldMask{};
    int FSignalFd = -1;
    int FWakeFd = -1;
    std::thread FThread;
};

}  // namespace korvalin::cli
