// Runs GoogleTest inside a QApplication, so the tests can build real windows
// (on the offscreen platform unless another is asked for).
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/message_boxes.h"
#include "gui/file_dialogs.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // No box or chooser ever waits for a person.
    quorvel::gui::MessageBoxes::SetAnswering(true);
    quorvel::gui::FileDialogs::SetAnswering(true);
    return RUN_ALL_TESTS();
}
