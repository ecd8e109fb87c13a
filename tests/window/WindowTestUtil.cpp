#include "WindowTestUtil.h"

#include <cstdlib>

#include <QApplication>
#include <QComboBox>
#include <QLocale>
#include <QPushButton>
#include <QTest>

namespace fwtest {

ClipSpec Spec(int frames, int width, int height) {
    ClipSpec spec;
    spec.frames = frames;
    spec.width = width;
    spec.height = height;
    return spec;
}

void EnsureApplication() {
    if (QApplication::instance()) return;
    // Never a real display: no test may open a window a person has to close.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives until the process ends
}

void WindowTest::SetUp() {
    EnsureApplication();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    dir = TempDir();
    window = std::make_unique<frmMain>();
    window->CDLoad.SetPresenter([this](const CommonDialog& settings, QWidget*) {
        dialogCalls.push_back({settings.FileName, settings.Filter, settings.DialogTitle});
        if (answers.empty()) return QString();
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

std::string WindowTest::Clip(const std::string& name, const ClipSpec& spec) {
    const std::string path = dir + "/" + name;
    EXPECT_TRUE(MakeClip(path, spec)) << path;
    return path;
}

void WindowTest::LoadThroughDialog(const std::string& path) {
    answers.push_back(QString::fromStdString(path));
    window->cmdLoad->click();
}

void WindowTest::ChooseEntry(int index) {
    QComboBox& combo = *window->Combo1;
    while (combo.currentIndex() > index) QTest::keyClick(&combo, Qt::Key_Up);
    while (combo.currentIndex() < index) QTest::keyClick(&combo, Qt::Key_Down);
}

int WindowTest::ShownFrame() const { return FrameNumberOf(window->picDisp->Image()); }

}  // namespace fwtest

// fontconfig, which Qt loads for text, keeps a cache that it never frees; the
// leak checker of sanitizer builds reads that as a leak of every test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
