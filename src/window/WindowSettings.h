// What the window remembers between runs: its size and position, the folder
// the open dialog was last in, and the zoom. Nothing else: a first start (no
// settings yet) shows the window exactly as designed.
#pragma once

#include <memory>

class QSettings;
class frmMain;

// The user's settings: framewise/framewise.conf in the configuration folder
// ($XDG_CONFIG_HOME, else ~/.config).
std::unique_ptr<QSettings> UserSettings();

// Call before the window is first shown. Values that are missing or not
// usable (a folder that is gone, a zoom the window does not offer) are skipped.
void RestoreWindowSettings(frmMain& window, const QSettings& settings);
// Call when the window has closed.
void SaveWindowSettings(const frmMain& window, QSettings& settings);
