// The thread that waits for Ctrl+C and its kin, so that a command can
// remove what it has half written before the signal ends the process.

#include "StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace korvalin::cli {

TStopSignals::TStopSignals(std::function<void()> onStop) : FOnStop(std::move(onStop)) {
    sigemptyset(&FSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&FSignals, signal);
    }
    if (const int err = pthread_sigmask(SIG_BLOCK, &FSignals, &FOldMask); err != 0)
        throw std::runtime_error(std::string("Cannot block signals: ") + std::strerror(err));
    FSignalFd = ::signalfd(-1, &FSignals, SFD_CLOEXEC);
    FWakeFd = ::eventfd(0, EFD_CLOEXEC);
    if (FSignalFd < 0 || FWakeFd < 0) {
        const int err = errno;
        if (FSignalFd >= 0) ::close(FSignalFd);
        if (FWakeFd >= 0) ::close(FWakeFd);
        pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
        throw std::runtime_error(std::string("Cannot watch for signals: ") + std::strerror(err));
    }
    FThread = std::thread([this] { Wait(); });
}

TStopSignals::~TStopSignals() {
    const std::uint64_t one = 1;
    while (::write(FWakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    FThread.join();
    ::close(FSignalFd);
    ::close(FWakeFd);
    // A signal that came after the work ended is delivered here and acts as usual.
    pthread_sigmask(SIG_SETMASK, &FOldMask, nullptr);
}

void TStopSignals::Wait() {
    pollfd fds[2] = {{FSignalFd, POLLIN, 0}, {FWakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info{};
        if (::read(FSignalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
        const int signal = static_cast<int>(info.ssi_signo);
        FOnStop();
        // End the way the signal would have ended the process: with its default
        // action, in this thread, the only one that lets it through.
        std::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        ::raise(signal);
        ::_exit(128 + signal);
    }
}

}  // namespace korvalin::cli
