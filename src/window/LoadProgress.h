// Progress of a long load: while it lives, the clip service's long operations
// report to it; once a load has run longer than a moment it shows how far it
// has come, and the user may cancel it. What shows the progress is a
// replaceable presenter, so that tests answer without a dialog.
#pragma once

#include <functional>

#include <QElapsedTimer>
#include <QString>

#include "platform/mAVIDecs.h"

class QWidget;

class LoadProgress {
public:
    // Shows the fraction done (0 to 1); returns false once the user cancelled.
    using View = std::function<bool(double done)>;
    // Makes the view for the load of `file`, shown over `parent`; dropping the
    // view closes it.
    using Presenter = std::function<View(const QString& file, QWidget* parent)>;

    // Installs the progress handler until destruction; the view appears at the
    // first report after `showAfterMs`.
    LoadProgress(Presenter presenter, QString file, QWidget* parent, int showAfterMs);
    ~LoadProgress();
    LoadProgress(const LoadProgress&) = delete;
    LoadProgress& operator=(const LoadProgress&) = delete;

    // A modal progress dialog with a Cancel button, which keeps the window
    // painting while the load runs.
    static View ShowProgressDialog(const QString& file, QWidget* parent);

private:
    bool Report(double done);

    Presenter presenter_;
    QString file_;
    QWidget* parent_;
    int showAfterMs_;
    QElapsedTimer started_;
    View view_;
    AVIProgressHandler previous_;
};
