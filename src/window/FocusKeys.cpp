#include "FocusKeys.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>

namespace {

bool IsPressKey(int key) { return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter; }

bool IsListKey(int key) {
    return key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_Up || key == Qt::Key_Down ||
           key == Qt::Key_PageUp || key == Qt::Key_PageDown;
}

// Plain keys only (the keypad's Enter carries the keypad modifier): Ctrl+Home
// and the like stay the window's.
bool IsPlain(const QKeyEvent& key) { return (key.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier; }

class FocusKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (!IsPlain(*key)) return false;
        auto* button = qobject_cast<QAbstractButton*>(watched);
        const bool owned = button ? IsPressKey(key->key())
                                  : qobject_cast<QComboBox*>(watched) != nullptr && IsListKey(key->key());
        if (!owned) return false;
        if (event->type() == QEvent::ShortcutOverride) {
            // Accepted, the key goes to the control as a key press instead
            // of triggering the window's shortcut.
            key->accept();
            return true;
        }
        // Qt's buttons take Space themselves but Return and Enter only in a
        // dialog, and a check box never: press them here.
        if (button && key->key() != Qt::Key_Space) {
            if (!key->isAutoRepeat() && button->isEnabled()) button->click();
            return true;
        }
        return false;
    }
};

}  // namespace

void KeepKeysForFocusedControls(QWidget* window) {
    auto* filter = new FocusKeys(window);
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) button->installEventFilter(filter);
    for (QComboBox* list : window->findChildren<QComboBox*>()) list->installEventFilter(filter);
}
