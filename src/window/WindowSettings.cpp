#include "WindowSettings.h"

#include <cmath>

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
    const int power = window.Combo1->count() > 0 ? window.picDisp->ZoomPower() : window.StartZoomPower;
    settings.setValue(kZoom, std::ldexp(1.0, power));
}

void RestoreZoom(frmMain& window, const QSettings& settings) {
    // A factor the keys can reach: 1/8, 1/4, 1/2, 1, 2, 4 or 8.
    bool ok = false;
    const double zoom = settings.value(kZoom).toDouble(&ok);
    int power = 0;
    if (!ok || zoom <= 0 || std::frexp(zoom, &power) != 0.5 || power - 1 < -3 || power - 1 > 3) return;
    window.StartZoomPower = power - 1;
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
