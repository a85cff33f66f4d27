#include <gtest/gtest.h>

#include <QApplication>

// The widget tests need a QApplication; Qt's offscreen platform needs no
// display, so they run from ssh and CI alike.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
