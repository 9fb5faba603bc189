#pragma once
// orv-plcsim as a child process of a test: started on a pseudo-terminal under a name of the
// test's, with its event log in a scratch file; stopped when the test ends.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace orv::test {

class Simulator {
public:
    Simulator(const QString& name, const QStringList& options) {
        const QString binary = qEnvironmentVariable("ORV_BINARY_DIR") + "/tools/plcsim/orv-plcsim";
        log_ = QDir::temp().filePath(
            QStringLiteral("orv-e2e-%1-%2.log").arg(name).arg(QCoreApplication::applicationPid()));
        QFile::remove(log_);
        process_.setProgram(binary);
        process_.setArguments(QStringList{"--name", name, "--log", log_} + options);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test killed by its time-out takes the simulator with it, link and all.
        process_.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        process_.start();
        if (!process_.waitForStarted(5000) || !process_.waitForReadyRead(5000)) {
            ADD_FAILURE() << "orv-plcsim did not start: " << binary.toStdString();
            return;
        }
        const QString first = QString::fromUtf8(process_.readLine()).trimmed();
        ready_ = first.startsWith("listening on ") && first.endsWith(" as " + name);
        EXPECT_TRUE(ready_) << first.toStdString();
    }
    ~Simulator() {
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
        QFile::remove(log_);
    }
    bool Ready() const { return ready_; }
    QString Log() const {
        QFile file(log_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QProcess process_;
    QString log_;
    bool ready_ = false;
};

} // namespace orv::test
