// The go-to dialog: asks for a frame number or a time and refuses, inside the
// dialog, what does not name a frame of the clip. What actually asks the user
// is a replaceable presenter, so that tests answer without a dialog.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Judges one confirmed answer: an empty text accepts it, anything else is the
// reason shown for refusing it.
using GoToCheck = std::function<QString(const QString& answer)>;
// Shows `initial`, asks until `check` accepts an answer and returns that
// answer; returns an empty text when the user cancels.
using GoToPresenter = std::function<QString(const QString& initial, const GoToCheck& check, QWidget* parent)>;

QString AskGoToWithDialog(const QString& initial, const GoToCheck& check, QWidget* parent);
