// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The GUI tests need one QApplication for the whole run, offscreen unless told otherwise, and a
// throw-away system folder whose KESTREL/x.bin the wizard's start-up finds. The folder is open to
// the user nobody, whom the program under test becomes when the tests run as root.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QTemporaryDir>
#include <fstream>

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const QTemporaryDir system;
    const std::string path = system.path().toStdString();
    if (chmod(path.c_str(), 0755) != 0 || mkdir((path + "/KESTREL").c_str(), 0755) != 0) return 1;
    std::ofstream(path + "/KESTREL/x.bin") << "image";
    setenv("KESTREL_SYSTEM_DIR", path.c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
