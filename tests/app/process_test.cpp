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
#include <tuple>

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
    const QString mark = here + "asked", own = "FW=" + here + "own.bin";
    const QString missing = "FW=" + here + "missing.bin", locked = here + "locked.bin";
    const QString noDisplay = "kestrel-recovery: cannot open a window: no display";
    const QString busy = "another recovery is running in this network namespace";
    // The wizard's arguments, unless they start with "cli"; as the invoking user of sudo, else
    // through setpriv, where the mark tells that it asked (pkexec) just when the helper refused
    // it as busy; the signal sent once it runs; the status (-1: the wizard's box waits for the
    // user); a line on standard error, on standard output for 0.
    const std::tuple<QStringList, bool, int, int, QString> cases[] = {
        {{"FW=./own.bin"}, true, SIGHUP, 128 + SIGHUP, ""},
        {{"--choose", "own.bin"}, true, SIGTERM, 128 + SIGTERM, ""},
        {{"DEBUG", "FW=x.bin"}, true, SIGINT, 128 + SIGINT, ""},  // its box names the image
        {{"FW=" + locked}, true, 0, 1, "Can not find Firmware " + locked + "\n"},
        {{"--help"}, true, 0, 0, "Usage: kestrel-recovery "},
        {{"--version"}, true, 0, 0, "kestrel-recovery 1."},
        {{"FW=x.bin"}, true, 0, 1, noDisplay},
        {{"cli", missing}, false, 0, 1, "Can not find Firmware"},
        {{missing}, false, 0, 1, "Can not find Firmware"},
        {{"cli", own}, false, 0, 1, busy},
        {{own}, false, 0, -1, busy},
    };
    for (const auto& [arguments, sudo, signal, status, line] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
        environment.insert("STAND_IN_MARK", mark);
        environment.insert("STAND_IN_REFUSES", line == busy ? busy : QString());
        for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID", "DISPLAY", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM"})
            environment.remove(name);
        if (line != noDisplay) environment.insert("QT_QPA_PLATFORM", "offscreen");
        // Started by root, it becomes nobody, as under sudo; an ordinary user's run ignores these.
        for (const char* name : {"SUDO_UID", "SUDO_GID"})
            if (sudo) environment.insert(name, "65534");
        QStringList command = arguments;
        if (command[0] == "cli")
            command[0] = KESTREL_RECOVERY_CLI_BINARY;
        else
            command.prepend(KESTREL_RECOVERY_BINARY);
        if (geteuid() == 0 && !sudo)
            command =
                QStringList{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"} +
                command;
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(here);
        process.start(command.takeFirst(), command);
        // Once it runs the program: the fork of this process before that has this one's handlers.
        // 0 when it did not start, and then Catches fails first.
        const auto pid = process.waitForStarted(15000) ? process.processId() : 0;
        ASSERT_TRUE(!signal || QTest::qWaitFor([&] { return Catches(pid, signal); }, 15000));
        if (signal) kill(static_cast<pid_t>(pid), signal);
        QByteArray said;
        if (status < 0) {
            process.setReadChannel(QProcess::StandardError);
            while (!said.contains(line.toUtf8()) && process.waitForReadyRead(30000))
                said += process.readAllStandardError();
            process.kill();
        }
        ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
        EXPECT_TRUE(status < 0 || process.exitCode() == status) << process.exitCode();
        said += status ? process.readAllStandardError() : process.readAllStandardOutput();
        EXPECT_TRUE(said.contains(line.toUtf8())) << said.toStdString();
        EXPECT_FALSE(said.contains("not granted")) << said.toStdString();
        EXPECT_TRUE(sudo || QFile::exists(mark) == (line == busy));
        // Without a display one line says why, not Qt's search for one.
        EXPECT_TRUE(line != noDisplay || said.count('\n') == 1) << said.toStdString();
    }
}

}  // namespace
}  // namespace kestrel
