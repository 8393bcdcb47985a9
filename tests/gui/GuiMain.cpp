#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryFile>

// The window tests run without a display, on a 1920 x 1080 screen at 96 dpi whose windows
// get a frame once shown, as a window manager would give them.
int main(int argc, char** argv) {
    QTemporaryFile screens;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && screens.open()) {
        screens.write(R"({"windowFrameMargins": true,
                          "screens": [{"name": "test", "x": 0, "y": 0, "width": 1920,
                          "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + screens.fileName().toLocal8Bit());
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
