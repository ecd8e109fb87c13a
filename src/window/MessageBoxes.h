// The platform message box shown as a Qt dialog.
#pragma once

#include <memory>
#include <string>

class QMessageBox;
class QWidget;

// A modal box with one OK button; icon 16 shows as critical, 64 as information.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption, int icon,
                                            QWidget* parent);
// Routes every MsgBox to MakeMessageBox(...)->exec(), over `parent` while it lives.
void InstallMessageBoxDialogs(QWidget* parent);
