// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The real program with a stand-in helper, as an ordinary user; run as root it becomes the
// invoking user nobody, as under sudo. The start-up failures, a missing display among them, end
// the process with status 1 before any window, and a quit signal ends it with 128 + the
// signal's number.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fstream>
#include <string>

namespace kestrel {
namespace {

constexpr int kWaitMs = 15000;

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_EQ(chmod(folder_.path().toLocal8Bit().constData(), 0755), 0);
        std::string images = folder_.path().toStdString() + "/KESTREL";
        ASSERT_EQ(mkdir(images.c_str(), 0755), 0);
        std::ofstream(images + "/x.bin") << "image";
        // Readable by its owner alone, and only while that is root: never by the user.
        std::ofstream(Folder() + "/locked.bin") << "image";
        ASSERT_EQ(chmod((Folder() + "/locked.bin").c_str(), geteuid() == 0 ? 0600 : 0), 0);
    }

    struct Outcome {
        int status = -1;
        std::string out, err;
    };

    QProcess* Start(const QStringList& arguments, const QString& locale = "C.UTF-8",
                    bool display = true) {
        auto* process = new QProcess;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KESTREL_SYSTEM_DIR", folder_.path());
        environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
        if (geteuid() == 0) {
            environment.insert("SUDO_UID", "65534");
            environment.insert("SUDO_GID", "65534");
        }
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        if (!display) {
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                environment.remove(QString::fromLatin1(name));
        }
        environment.insert("LC_ALL", locale);
        process->setProcessEnvironment(environment);
        process->start(QString::fromLatin1(KESTREL_RECOVERY_BINARY), arguments);
        return process;
    }

    Outcome Run(const QStringList& arguments, const QString& locale = "C.UTF-8",
                bool display = true) {
        std::unique_ptr<QProcess> process(Start(arguments, locale, display));
        Outcome outcome;
        if (!process->waitForFinished(kWaitMs)) {
            process->kill();
            process->waitForFinished(kWaitMs);
            ADD_FAILURE() << "still running: " << arguments.join(' ').toStdString();
            return outcome;
        }
        if (process->exitStatus() == QProcess::NormalExit) outcome.status = process->exitCode();
        outcome.out = process->readAllStandardOutput().toStdString();
        outcome.err = process->readAllStandardError().toStdString();
        return outcome;
    }

    std::string Folder() const { return folder_.path().toStdString(); }

    QTemporaryDir folder_;
};

TEST_F(Program, StartUpFailuresEndWithStatusOneAndOneLine) {
    struct Case {
        QStringList arguments;
        QString locale;
        std::string line;
        bool display = true;
    };
    const std::string overlong(600, 'x');
    const std::string noDisplay =
        "cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)";
    const Case cases[] = {
        {{}, "C.UTF-8", "You must specify the FW name."},
        {{"TIME=30"}, "C.UTF-8", "You must specify the FW name."},
        {{"WWFW=x.bin"}, "en_CA.UTF-8", "You must specify the FW name."},
        {{"FW=y.bin"}, "C.UTF-8", "Can not find Firmware " + Folder() + "/KESTREL/y.bin"},
        {{"FW=\"x.bin\""}, "C.UTF-8", "Can not find Firmware " + Folder() + "/KESTREL/\"x.bin\""},
        {{"FW=" + QString::fromStdString(Folder()) + "/locked.bin"},
         "C.UTF-8",
         "Can not find Firmware " + Folder() + "/locked.bin"},
        {{"FW=" + QString::fromStdString(overlong)},
         "C.UTF-8",
         "The value of FW= is longer than 511 characters."},
        {{"FW=x.bin"}, "C.UTF-8", noDisplay, false},
        {{"FW=y.bin"}, "C.UTF-8", noDisplay, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        Outcome outcome = Run(c.arguments, c.locale, c.display);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.find("kestrel-recovery: " + c.line + "\n") != std::string::npos, true)
            << outcome.err;
    }
}

TEST_F(Program, HelpPrintsUsageAndSucceeds) {
    Outcome outcome = Run({"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.out.rfind("Usage: kestrel-recovery", 0), 0u) << outcome.out;
    EXPECT_NE(outcome.out.find(Folder() + "/KESTREL/"), std::string::npos);
}

TEST_F(Program, AQuitSignalEndsItWith128PlusItsNumber) {
    struct Case {
        const char* when;
        QStringList arguments;
        int signal;
    };
    const Case cases[] = {
        {"on the welcome page", {"FW=x.bin"}, SIGTERM},
        {"while a start-up box is open", {"DEBUG", "FW=x.bin"}, SIGINT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        std::unique_ptr<QProcess> process(Start(c.arguments));
        ASSERT_TRUE(process->waitForStarted(kWaitMs));
        // Still running after a while: the image was accepted and the wizard waits for the user.
        EXPECT_FALSE(process->waitForFinished(1500));
        ASSERT_EQ(process->state(), QProcess::Running);
        kill(static_cast<pid_t>(process->processId()), c.signal);
        ASSERT_TRUE(process->waitForFinished(kWaitMs));
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 128 + c.signal);
    }
}

}  // namespace
}  // namespace kestrel
