#include "platform/MsgBox.h"

#include <cstdio>
#include <utility>

namespace {

MessageBoxHandler& CurrentHandler() {
    static MessageBoxHandler handler;
    return handler;
}

// Messages join a sentence and a file name with CR LF; a terminal wants a
// plain line break.
std::string WithLineBreaks(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        result += text[i];
    }
    return result;
}

void PrintToStderr(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), WithLineBreaks(text).c_str());
    std::fflush(stderr);
}

}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}

void MsgBox(const std::string& text, int icon) {
    // A copy, so a handler that installs another one does not destroy itself.
    const MessageBoxHandler handler = CurrentHandler();
    if (handler) {
        handler(text, kAppTitle, icon);
    } else {
        PrintToStderr(text, kAppTitle);
    }
}
