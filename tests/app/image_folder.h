// SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A throw-away system folder holding KESTREL/x.bin, named by KESTREL_SYSTEM_DIR, so that the
// dialog's start-up finds an image.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <string>

namespace kestrel::testing {

inline void PlaceImageIn(const QTemporaryDir& folder) {
    ASSERT_TRUE(folder.isValid());
    const std::string images = folder.path().toStdString() + "/KESTREL";
    ASSERT_EQ(mkdir(images.c_str(), 0755), 0);
    std::ofstream(images + "/x.bin") << "image";
    setenv("KESTREL_SYSTEM_DIR", folder.path().toLocal8Bit().constData(), 1);
}

}  // namespace kestrel::testing
