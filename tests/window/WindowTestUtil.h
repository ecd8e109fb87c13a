// Drives the real main window under Qt's offscreen platform, with its file
// dialogs answered from a script and message boxes captured.
#pragma once


#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "window/frmMain.h"

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace fwtest {

// The one application object of the test program, on the offscreen platform:
// no test may open a window a person has to close.
inline void EnsureApplication() {
    static int argc = (setenv("QT_QPA_PLATFORM", "offscreen", 1), 1);
    static char* argv[] = {const_cast<char*>("window_tests"), nullptr};
    [[maybe_unused]] static const auto* application = new QApplication(argc, argv);  // lives until the process ends
}

// Pictures as 32-bit RGB images, for comparing them whole.
inline QImage Rgb(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }
inline QImage ToQImage(const PersistentImage& image) {
    QImage result(image.Width(), image.Height(), QImage::Format_RGB32);
    for (int y = 0; y < image.Height(); ++y)
        for (int x = 0; x < image.Width(); ++x) result.setPixel(x, y, image.PixelAt(x, y));
    return result;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        window = std::make_unique<frmMain>();
        for (CommonDialog* dialog : {&window->CDLoad, &window->CDSave}) {
            dialog->SetPresenter([this](const CommonDialog& settings, QWidget*) {
                dialogs.push_back(settings);
                return answers.isEmpty() ? QString() : answers.takeFirst();
            });
        }
        window->show();  // shown and active, as the window-wide keys need
        QApplication::setActiveWindow(window.get());
    }
    // Writes a generated clip into the test's folder and returns its path.
    std::string Clip(const std::string& name, const std::string& spec = "ffv1 64x48 10") {
        EXPECT_TRUE(MakeClip(dir + "/" + name, spec)) << name;
        return dir + "/" + name;
    }
    // Answers the next file dialog with `path` ("" cancels) and clicks "Load Video".
    void Load(const std::string& path) {
        answers.push_back(QString::fromStdString(path));
        window->cmdLoad->click();
    }
    // The number the picture box's image shows.
    int ShownFrame() const { return FrameNumberOf(window->picDisp->Image()); }
    // A key pressed wherever the focus is.
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window->focusWidget(), Qt::Key(key), modifiers);
    }

    std::vector<CommonDialog> dialogs;  // the settings of every file dialog shown
    QStringList answers;
    CaptureMessages messages;
    const std::string dir = TempDir();
    std::unique_ptr<frmMain> window;
};

}  // namespace fwtest
