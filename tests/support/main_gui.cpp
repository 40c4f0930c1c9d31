#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Widget tests always run offscreen, whatever the environment says.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
