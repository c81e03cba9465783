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
// line on standard error, and the rights are asked for only once the image is there (that the
// wizard asks then: the end-to-end row not-granted).
TEST(Program, EndsWithTheStatusOfHowItStartedAndAsksForRightsLast) {
    QTemporaryDir folder;
    const QString here = folder.path() + "/";
    ASSERT_EQ(chmod(folder.path().toLocal8Bit(), 0777), 0);
    for (const char* name : {"own.bin", "locked.bin"}) QFile(here + name).open(QFile::WriteOnly);
    ASSERT_EQ(chmod((here + "own.bin").toLocal8Bit(), 0644), 0);
    // Readable by root alone, and by nobody when the tests run as that user.
    ASSERT_EQ(chmod((here + "locked.bin").toLocal8Bit(), geteuid() == 0 ? 0600 : 0), 0);
    const QString mark = here + "asked", locked = here + "locked.bin";
    const QString own = "FW=" + here + "own.bin", missing = "FW=" + here + "missing.bin";
    const QString gui = KESTREL_RECOVERY_BINARY, cli = KESTREL_RECOVERY_CLI_BINARY;
    const QStringList asNobody{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    const QString noDisplay = "kestrel-recovery: cannot open a window: no display";
    const QString busy = "another recovery is running in this network namespace";
    // The command; as the invoking user of sudo, else through setpriv, where the mark tells that
    // it asked (pkexec) just when the helper refused it as busy; the signal sent once it runs; the
    // status; a line on standard error, on standard output for 0.
    const std::tuple<QStringList, bool, int, int, QString> cases[] = {
        {{gui, "FW=./own.bin"}, true, SIGHUP, 128 + SIGHUP, ""},
        {{gui, "--choose", "own.bin"}, true, SIGTERM, 128 + SIGTERM, ""},
        {{gui, "DEBUG", own}, true, SIGINT, 128 + SIGINT, ""},  // its box names the image
        {{gui, "FW=" + locked}, true, 0, 1, "Can not find Firmware " + locked + "\n"},
        {{gui, "--help"}, true, 0, 0, "Usage: kestrel-recovery "},
        {{gui, "--version"}, true, 0, 0, "kestrel-recovery 1."},
        {{gui, own}, true, 0, 1, noDisplay},
        {{cli, missing}, false, 0, 1, "Can not find Firmware"},
        {{gui, missing}, false, 0, 1, "Can not find Firmware"},
        {{cli, own}, false, 0, 1, busy},
    };
    for (const auto& [command, sudo, signal, status, line] : cases) {
        SCOPED_TRACE(command.join(' ').toStdString());
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID", "DISPLAY", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM"})
            environment.remove(name);
        environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
        environment.insert("STAND_IN_MARK", mark);
        environment.insert("STAND_IN_REFUSES", line == busy ? busy : QString());
        if (line != noDisplay) environment.insert("QT_QPA_PLATFORM", "offscreen");
        // Started by root, it becomes nobody, as under sudo; an ordinary user's run ignores these.
        for (const char* name : {"SUDO_UID", "SUDO_GID"})
            if (sudo) environment.insert(name, "65534");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(here);
        const QStringList run = geteuid() == 0 && !sudo ? asNobody + command : command;
        process.start(run[0], run.mid(1));
        // Once it runs the program: the fork of this process before that has this one's handlers.
        // 0 when it did not start, and then Catches fails first.
        const auto pid = process.waitForStarted(15000) ? process.processId() : 0;
        ASSERT_TRUE(!signal || QTest::qWaitFor([&] { return Catches(pid, signal); }, 15000));
        if (signal) kill(static_cast<pid_t>(pid), signal);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), status);
        const QByteArray said =
            status ? process.readAllStandardError() : process.readAllStandardOutput();
        EXPECT_TRUE(said.contains(line.toUtf8()) && !said.contains("not granted")) << said.data();
        EXPECT_TRUE(sudo || QFile::exists(mark) == (line == busy));
        // Without a display one line says why, not Qt's search for one.
        EXPECT_TRUE(line != noDisplay || said.count('\n') == 1) << said.data();
    }
}

}  // namespace
}  // namespace kestrel
