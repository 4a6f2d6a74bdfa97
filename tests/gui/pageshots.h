#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QWidget>

namespace vokta::test {

// Saves a picture of `window` into the build folder's gui-shots/, to be looked at.
inline void Shoot(QWidget& window, const char* name)
{
    const QString folder = QStringLiteral(VOKTA_BINARY_DIR "/gui-shots");
    QDir().mkpath(folder);
    EXPECT_TRUE(window.grab().save(folder + "/" + name));
}

}  // namespace vokta::test
