#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests run with a Qt application object so that posted messages, the
// profile and the user-interface thread behave as in the program.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
