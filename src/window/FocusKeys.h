// Keys that belong to the control with the focus before the window's own
// shortcuts: Space, Return and Enter press a focused button or tick a focused
// check box; Home, End and the arrow keys work a focused drop-down list.
#pragma once

class QWidget;

// Watches every button, check box and drop-down list inside `window`, as
// they are when called.
void KeepKeysForFocusedControls(QWidget* window);
