// What the window keeps between runs, through a settings file of the test's own
// (never the user's settings).
#include <filesystem>

#include <QFileDialog>
#include <QSettings>

#include "WindowTestUtil.h"
#include "window/WindowSettings.h"

namespace fwtest {
namespace {

using WindowSettings = WindowTest;

TEST_F(WindowSettings, NextRunGetsTheSizePositionOpenFolderAndZoom) {
    QSettings settings(QString::fromStdString(dir + "/settings.conf"), QSettings::IniFormat);
    std::filesystem::create_directory(dir + "/sub");
    const std::string clip = Clip("sub/a.avi");
    Load(clip);
    EXPECT_EQ(window->CDLoad.InitDir, QString::fromStdString(dir + "/sub"));
    Key(Qt::Key_Plus), Key(Qt::Key_Plus);
    window->setGeometry(30, 40, 600, 500);
    window->close();
    SaveWindowSettings(*window, settings);

    frmMain next;
    RestoreWindowSettings(next, settings);
    next.show();
    EXPECT_EQ(next.geometry(), QRect(30, 40, 600, 500));
    QFileDialog dialog;
    next.CDLoad.Configure(dialog);
    EXPECT_EQ(dialog.directory().absolutePath(), QString::fromStdString(dir + "/sub"));
    ASSERT_TRUE(next.LoadFile(QString::fromStdString(clip)));
    EXPECT_EQ(next.picDisp->Zoom(), 4);
    EXPECT_EQ(next.lblZoom->text(), "Zoom 4×");
}

TEST_F(WindowSettings, FirstStartOrUnusableValuesLeaveTheWindowAsDesigned) {
    QSettings settings(QString::fromStdString(dir + "/settings.conf"), QSettings::IniFormat);
    for (const bool garbage : {false, true}) {
        if (garbage) {
            settings.setValue("window/geometry", QByteArray("not a geometry"));
            settings.setValue("open/folder", QString::fromStdString(dir + "/gone"));
            settings.setValue("view/zoom", 3);
        }
        frmMain next;
        RestoreWindowSettings(next, settings);
        next.show();
        EXPECT_EQ(next.size(), window->size()) << garbage;
        EXPECT_EQ(next.windowTitle(), "Form1");
        EXPECT_TRUE(next.CDLoad.InitDir.isEmpty());
        ASSERT_TRUE(next.LoadFile(QString::fromStdString(Clip("b.avi"))));
        EXPECT_EQ(next.picDisp->Zoom(), 1) << garbage;
    }
}

}  // namespace
}  // namespace fwtest
