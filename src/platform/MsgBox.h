// The platform message box: modal, one OK button, the application's title as
// caption. The window installs a handler that shows a dialog; the command-line
// program prints on stderr; tests capture the messages.
#pragma once

#include <functional>
#include <string>

inline constexpr int MB_ICONERROR = 16;
inline constexpr int MB_ICONINFORMATION = 64;
inline constexpr const char* kAppTitle = "Framewise";

using MessageBoxHandler =
    std::function<void(const std::string& text, const std::string& caption, int icon)>;

// Returns the handler that was installed before; an empty handler restores the
// default, which writes the text to stderr.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
// Returns once the handler has returned (for a dialog: once the user closed it).
void MsgBox(const std::string& text, int icon);
