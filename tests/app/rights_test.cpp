// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// When each program asks for the rights: only once what needs none is known to be there, and
// what it tells the user when the helper will not serve. Run as an ordinary user (root runs the
// programs as nobody), where asking means starting pkexec: here, the stand-in helper.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace kestrel {
namespace {

TEST(Rights, AskedForOnlyOnceTheImageAndTheDisplayAreThere) {
    QTemporaryDir folder;
    const QString here = folder.path() + "/";
    ASSERT_EQ(chmod(folder.path().toLocal8Bit(), 0777), 0);
    QFile(here + "own.bin").open(QFile::WriteOnly);
    ASSERT_EQ(chmod((here + "own.bin").toLocal8Bit(), 0644), 0);
    const QString mark = here + "asked";
    const QString wizard = KESTREL_RECOVERY_BINARY;
    const QString cli = KESTREL_RECOVERY_CLI_BINARY;
    const char* busy = "another recovery is running in this network namespace";
    // The program and its arguments, whether it has a display, what the helper says instead of
    // a greeting, then the status (-1: the wizard's box waits for the user), a line on standard
    // error, and whether rights were asked for.
    const std::tuple<QString, QStringList, bool, QString, int, QString, bool> cases[] = {
        {cli, {"FW=" + here + "missing.bin"}, false, "", 1, "Can not find Firmware", false},
        {wizard, {"FW=" + here + "missing.bin"}, true, "", 1, "Can not find Firmware", false},
        {wizard, {"FW=" + here + "own.bin"}, false, "", 1, "no display", false},
        {cli, {"FW=" + here + "own.bin"}, false, busy, 1, busy, true},
        {wizard, {"FW=" + here + "own.bin"}, true, busy, -1, busy, true},
    };
    for (const auto& [program, arguments, display, refuses, status, line, asked] : cases) {
        SCOPED_TRACE((program + " " + arguments.join(' ') + " " + refuses).toStdString());
        QFile::remove(mark);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("KESTREL_HELPER", KESTREL_STAND_IN_HELPER);
        environment.insert("STAND_IN_MARK", mark);
        environment.insert("STAND_IN_REFUSES", refuses);
        for (const char* name : {"SUDO_UID", "SUDO_GID", "PKEXEC_UID", "DISPLAY", "WAYLAND_DISPLAY",
                                 "QT_QPA_PLATFORM"})
            environment.remove(name);
        if (display) environment.insert("QT_QPA_PLATFORM", "offscreen");
        QStringList command{program};
        command += arguments;
        if (geteuid() == 0)
            command =
                QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--"} + command;
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(here);
        process.setReadChannel(QProcess::StandardError);
        process.start(geteuid() == 0 ? "setpriv" : command.takeFirst(), command);
        QByteArray said;
        while (!said.contains(line.toUtf8()) && process.waitForReadyRead(30000))
            said += process.readAllStandardError();
        if (status < 0) process.kill();
        ASSERT_TRUE(process.state() == QProcess::NotRunning || process.waitForFinished(30000));
        said += process.readAllStandardError();
        EXPECT_TRUE(status < 0 || process.exitCode() == status) << process.exitCode();
        EXPECT_TRUE(said.contains(line.toUtf8())) << said.toStdString();
        EXPECT_FALSE(said.contains("not granted")) << said.toStdString();
        EXPECT_EQ(QFile::exists(mark), asked);
    }
}

}  // namespace
}  // namespace kestrel
