// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The real program with a stand-in helper that refuses every change, as an ordinary user; run as
// root it becomes the invoking user nobody, as under sudo.
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
// line on standard error.
TEST(Program, EndsWithTheStatusOfHowItStartedAndWasStopped) {
    QTemporaryDir folder;
    const QString here = folder.path() + "/";
    ASSERT_EQ(chmod(folder.path().toLocal8Bit(), 0755), 0);
    for (const char* name : {"own.bin", "locked.bin"}) QFile(here + name).open(QFile::WriteOnly);
    // Readable by root alone, and by nobody when the tests run as that user.
    ASSERT_EQ(chmod((here + "locked.bin").toLocal8Bit(), geteuid() == 0 ? 0600 : 0), 0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
    // Started by root, it becomes nobody, as under sudo; an ordinary user's run ignores these.
    for (const char* name : {"SUDO_UID", "SUDO_GID"}) environment.insert(name, "65534");
    // The signal sent once it runs, its status, what it says on standard error (on standard
    // output for 0).
    const QString noDisplay = "kestrel-recovery: cannot open a window: no display";
    const std::tuple<QStringList, int, int, QString> cases[] = {
        {{"FW=" + here + "own.bin"}, SIGTERM, 128 + SIGTERM, ""},
        {{"FW=./own.bin"}, SIGHUP, 128 + SIGHUP, ""},
        {{"--choose", "own.bin"}, SIGTERM, 128 + SIGTERM, ""},
        {{"DEBUG", "FW=x.bin"}, SIGINT, 128 + SIGINT, ""},  // the box naming the image is open
        {{"FW=" + here + "locked.bin"}, 0, 1, "Can not find Firmware " + here + "locked.bin\n"},
        {{"--help"}, 0, 0, "Usage: kestrel-recovery "},
        {{"--version"}, 0, 0, "kestrel-recovery 1."},  // no rights asked for
        {{"FW=x.bin"}, 0, 1, noDisplay},
    };
    for (const auto& [arguments, signal, status, line] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        if (line == noDisplay)
            for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
                environment.remove(name);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(here);
        process.start(KESTREL_RECOVERY_BINARY, arguments);
        // Once it runs the program: the fork of this process before that has this one's handlers.
        // 0 when it did not start, and then Catches fails first.
        const auto pid = process.waitForStarted(15000) ? process.processId() : 0;
        ASSERT_TRUE(!signal || QTest::qWaitFor([&] { return Catches(pid, signal); }, 15000));
        if (signal) kill(static_cast<pid_t>(pid), signal);
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), status);
        const auto said = status ? process.readAllStandardError() : process.readAllStandardOutput();
        EXPECT_TRUE(said.contains(line.toUtf8())) << said.toStdString();
        // Without a display one line says why, not Qt's search for one.
        if (line == noDisplay) {
            EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
        }
    }
}

}  // namespace
}  // namespace kestrel
