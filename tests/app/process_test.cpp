// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs with a stand-in helper that refuses every change, as an ordinary user: how
// they end, and when they ask for the rights. Root runs them as nobody: as the invoking user of
// sudo, which the program becomes itself, or through setpriv, where asking means starting pkexec
// (here, the stand-in helper).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fstream>

namespace kestrel {
namespace {

// True once `pid` catches `signal`: from then on the wizard answers it.
bool Catches(qint64 pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("SigCgt:"))
            return std::stoull(line.substr(7), 0, 16) >> (signal - 1) & 1;
    return false;
}

// An image the user may read is taken, and the wizard waits for the user until a quit signal
// ends it, a start-up box open or not. What keeps it from starting ends it with status 1 and a
// line on standard error, and the rights are asked for only once the image and the display are
// there.
TEST(Program, EndsWithTheStatusOfHowItStartedAndAsksForRightsLast) {
    QTemporaryDir folder;
    const QString here = folder.path() + "/";
    ASSERT_EQ(chmod(folder.path().toLocal8Bit(), 0777), 0);
    for (const char* name : {"own.bin", "locked.bin"}) QFile(here + name).open(QFile::WriteOnly);
    ASSERT_EQ(chmod((here + "own.bin").toLocal8Bit(), 0644), 0);
    // Readable by root alone, and by nobody when the tests run as that user.
    ASSERT_EQ(chmod((here + "locked.bin").toLocal8Bit(), geteuid() == 0 ? 0600 : 0), 0);
    const QString mark = here + "asked";
    const QString noDisplay = "kestrel-recovery: cannot open a window: no display";
    const char* busy = "another recovery is running in this network namespace";
    struct Case {
        QStringList arguments;  // the wizard's, unless they start with "cli"
        bool sudo;              // as the invoking user of sudo, else through setpriv
        int signal;             // sent once it runs
        int status;             // -1: the wizard's box waits for the user
        QString line;           // on standard error; on standard output for 0
        bool display = true;
        QString refuses = "";  // what the helper says instead of a greeting
        bool asked = false;    // checked through setpriv, where it means pkexec
    };
    const Case cases[] = {
        {{"FW=" + here + "own.bin"}, true, SIGTERM, 128 + SIGTERM, ""},
        {{"FW=./own.bin"}, true, SIGHUP, 128 + SIGHUP, ""},
        {{"--choose", "own.bin"}, true, SIGTERM, 128 + SIGTERM, ""},
        {{"DEBUG", "FW=x.bin"},
         true,
         SIGINT,
         128 + SIGINT,
         ""},  // the box naming the image is open
        {{"FW=" + here + "locked.bin"},
         true,
         0,
         1,
         "Can not find Firmware " + here + "locked.bin\n"},
        {{"--help"}, true, 0, 0, "Usage: kestrel-recovery "},
        {{"--version"}, true, 0, 0, "kestrel-recovery 1."},
        {{"FW=x.bin"}, true, 0, 1, noDisplay, false},
        {{"cli", "FW=" + here + "missing.bin"}, false, 0, 1, "Can not find Firmware", false},
        {{"FW=" + here + "missing.bin"}, false, 0, 1, "Can not find Firmware"},
        {{"FW=" + here + "own.bin"}, false, 0, 1, "no display", false},
        {{"cli", "FW=" + here + "own.bin"}, false, 0, 1, busy, false, busy, true},
        {{"FW=" + here + "own.bin"}, false, 0, -1, busy, true, busy, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.arguments.join(' ') + " " + c.refuses).toStdString());
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
        environment.insert("STAND_IN_MARK", mark);
        environment.insert("STAND_IN_REFUSES", c.refuses);
        for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID", "DISPLAY", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM"})
            environment.remove(name);
        if (c.display) environment.insert("QT_QPA_PLATFORM", "offscreen");
        // Started by root, it becomes nobody, as under sudo; an ordinary user's run ignores these.
        for (const char* name : {"SUDO_UID", "SUDO_GID"})
            if (c.sudo) environment.insert(name, "65534");
        QStringList command = c.arguments;
        if (command[0] == "cli")
            command[0] = KESTREL_RECOVERY_CLI_BINARY;
        else
            command.prepend(KESTREL_RECOVERY_BINARY);
        if (geteuid() == 0 && !c.sudo)
            command =
                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--"} + command;
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(here);
        process.start(geteuid() == 0 && !c.sudo ? "setpriv" : command.takeFirst(), command);
        // Once it runs the program: the fork of this process before that has this one's handlers.
        // 0 when it did not start, and then Catches fails first.
        const auto pid = process.waitForStarted(15000) ? process.processId() : 0;
        ASSERT_TRUE(!c.signal || QTest::qWaitFor([&] { return Catches(pid, c.signal); }, 15000));
        if (c.signal) kill(static_cast<pid_t>(pid), c.signal);
        QByteArray said;
        if (c.status < 0) {
            process.setReadChannel(QProcess::StandardError);
            while (!said.contains(c.line.toUtf8()) && process.waitForReadyRead(30000))
                said += process.readAllStandardError();
            process.kill();
        }
        ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
        EXPECT_TRUE(c.status < 0 || process.exitCode() == c.status) << process.exitCode();
        said += c.status ? process.readAllStandardError() : process.readAllStandardOutput();
        EXPECT_TRUE(said.contains(c.line.toUtf8())) << said.toStdString();
        EXPECT_FALSE(said.contains("not granted")) << said.toStdString();
        EXPECT_TRUE(c.sudo || QFile::exists(mark) == c.asked);
        // Without a display one line says why, not Qt's search for one.
        if (c.line == noDisplay) {
            EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
        }
    }
}

}  // namespace
}  // namespace kestrel
