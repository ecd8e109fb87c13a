// The file dialog as the window uses it: a file name, a filter and a title to
// set, a modal ShowOpen or ShowSave, then the chosen path and its file title.
// What actually asks the user is a replaceable presenter, so that tests answer
// without a dialog.
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

class CommonDialog {
public:
    // Gets the dialog's settings and returns the chosen full path, or an
    // empty text when the user cancelled.
    using Presenter = std::function<QString(const CommonDialog& dialog, QWidget* parent)>;

    enum class Mode { Open, Save };

    QString FileName;
    // Pairs of shown name and pattern list, joined by '|': "Avi|*.avi".
    QString Filter;
    QString DialogTitle;
    // The folder the dialog opens in when FileName names none; a dialog that
    // was answered remembers the answer's folder here.
    QString InitDir;
    // Set by ShowOpen and ShowSave, for the presenter.
    Mode DialogMode = Mode::Open;

    // Waits until the presenter returns and leaves its answer in FileName.
    void ShowOpen(QWidget* parent);
    // The same for a file to write; FileName is the name proposed.
    void ShowSave(QWidget* parent);
    // FileName without its folder.
    QString FileTitle() const;
    void SetPresenter(Presenter presenter) { presenter_ = std::move(presenter); }

    // The Qt name filters for Filter: each pattern is matched whatever the
    // case of its letters, and only the shown name appears in the dialog.
    QStringList NameFilters() const;
    // Puts the settings into a Qt file dialog (Qt's own, the same on every desktop).
    void Configure(QFileDialog& dialog) const;
    static QString AskWithFileDialog(const CommonDialog& settings, QWidget* parent);

private:
    void Ask(QWidget* parent);

    Presenter presenter_ = AskWithFileDialog;
};
