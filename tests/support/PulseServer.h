#pragma once

// A PulseAudio server of a test's own: a null sink in a private runtime
// folder, reached through one socket, and a recorder of that sink's monitor,
// so a test can hear what was played to the desktop's sound server.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace korvalin::test {

class TPulseServer {
public:
    // folder: private to the user, for the server's runtime files and the recording.
    explicit TPulseServer(const QString& folder) : FFolder(folder) {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty()) {
            FError = QStringLiteral("pulseaudio or parec is not installed (Debian: pulseaudio, pulseaudio-utils)");
            return;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), folder);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
        FServer.setProcessEnvironment(environment);
        FServer.setProcessChannelMode(QProcess::MergedChannels);
        // Root may run a per-user server too; it only warns about it.
        FServer.start(program,
                      {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                       QStringLiteral("--use-pid-file=no"), QStringLiteral("--disable-shm=yes"), QStringLiteral("-L"),
                       QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + Socket(),
                       QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=korvalin_test")});
        if (!FServer.waitForStarted(10000)) {
            FError = QStringLiteral("pulseaudio did not start: ") + FServer.errorString();
            return;
        }
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (FServer.state() != QProcess::Running) break;
            QProcess info;
            info.setProcessEnvironment(ClientEnvironment());
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(5000) && info.exitCode() == 0) {
                FStarted = true;
                return;
            }
            QThread::msleep(100);
        }
        FError = QStringLiteral("the server did not come up: ") + QString::fromLocal8Bit(FServer.readAll());
    }

    ~TPulseServer() {
        Stop(FRecorder);
        Stop(FServer);
    }

    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;

    bool Started() const { return FStarted; }
    const QString& Error() const { return FError; }
    // The value for PULSE_SERVER.
    QByteArray Address() const { return QFile::encodeName(QStringLiteral("unix:") + Socket()); }

    // Records the null sink's monitor (16-bit stereo at 44.1 kHz) until StopRecording.
    bool StartRecording() {
        FRecorder.setProcessEnvironment(ClientEnvironment());
        FRecorder.setStandardOutputFile(Recording());
        FRecorder.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("korvalin_test.monitor"),
                                                  QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                                                  QStringLiteral("--rate=44100"), QStringLiteral("--channels=2")});
        return FRecorder.waitForStarted(10000);
    }

    // Stops the recorder and gives the loudest sample it heard.
    int StopRecordingAndPeak() {
        Stop(FRecorder);
        QFile file(Recording());
        if (!file.open(QIODevice::ReadOnly)) return -1;
        const QByteArray raw = file.readAll();
        int peak = 0;
        for (qsizetype i = 0; i + 1 < raw.size(); i += 2) {
            std::int16_t sample = 0;
            std::memcpy(&sample, raw.constData() + i, sizeof sample);
            peak = std::max(peak, std::abs(int{sample}));
        }
        return peak;
    }

private:
    QString Socket() const { return FFolder + QStringLiteral("/pulse-native"); }
    QString Recording() const { return FFolder + QStringLiteral("/monitor.raw"); }
    QProcessEnvironment ClientEnvironment() const {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PULSE_SERVER"), QString::fromLocal8Bit(Address()));
        environment.insert(QStringLiteral("HOME"), FFolder);
        return environment;
    }
    static void Stop(QProcess& process) {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QString FFolder;
    QProcess FServer;
    QProcess FRecorder;
    bool FStarted = false;
    QString FError;
};

}  // namespace korvalin::test
