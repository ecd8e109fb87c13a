#include "WindowSettings.h"

#include <QComboBox>
#include <QDir>
#include <QSettings>

#include "frmMain.h"

namespace {

const QString kGeometry = QStringLiteral("window/geometry");
const QString kOpenFolder = QStringLiteral("open/folder");
const QString kZoom = QStringLiteral("view/zoom");

// The zoom is read and set only in these two, so that a change of what a zoom
// is (the picture area is being reworked) touches nothing else here.
void SaveZoom(const frmMain& window, QSettings& settings) {
    // Without a clip shown there is no zoom of this run; the last one stays.
    settings.setValue(kZoom, window.Combo1->count() > 0 ? window.picDisp->Zoom() : window.StartZoom);
}

void RestoreZoom(frmMain& window, const QSettings& settings) {
    bool ok = false;
    const int zoom = settings.value(kZoom).toInt(&ok);
    if (ok && (zoom == 1 || zoom == 2 || zoom == 4 || zoom == 8)) window.StartZoom = zoom;
}

}  // namespace

std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(QStringLiteral("framewise"), QStringLiteral("framewise"));
}

void RestoreWindowSettings(frmMain& window, const QSettings& settings) {
    // restoreGeometry also moves a window that would be off every screen back onto one.
    if (const QByteArray geometry = settings.value(kGeometry).toByteArray(); !geometry.isEmpty())
        window.restoreGeometry(geometry);
    if (const QString folder = settings.value(kOpenFolder).toString(); !folder.isEmpty() && QDir(folder).exists())
        window.CDLoad.InitDir = folder;
    RestoreZoom(window, settings);
}

void SaveWindowSettings(const frmMain& window, QSettings& settings) {
    settings.setValue(kGeometry, window.saveGeometry());
    if (!window.CDLoad.InitDir.isEmpty()) settings.setValue(kOpenFolder, window.CDLoad.InitDir);
    SaveZoom(window, settings);
    settings.sync();
}
