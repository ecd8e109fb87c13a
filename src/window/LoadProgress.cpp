#include "LoadProgress.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProgressDialog>

namespace {

constexpr int kSteps = 1000;

}  // namespace

LoadProgress::LoadProgress(Presenter presenter, QString file, QWidget* parent, int showAfterMs)
    : presenter_(std::move(presenter)), file_(std::move(file)), parent_(parent), showAfterMs_(showAfterMs) {
    started_.start();
    previous_ = AVISetProgressHandler([this](double done) { return Report(done); });
}

LoadProgress::~LoadProgress() { AVISetProgressHandler(std::move(previous_)); }

bool LoadProgress::Report(double done) {
    if (!view_) {
        if (started_.elapsed() < showAfterMs_ || !presenter_) return true;
        view_ = presenter_(file_, parent_);
        if (!view_) return true;
    }
    return view_(done);
}

LoadProgress::View LoadProgress::ShowProgressDialog(const QString& file, QWidget* parent) {
    auto dialog = std::make_shared<QProgressDialog>(QStringLiteral("Reading %1\u2026").arg(QFileInfo(file).fileName()),
                                                    QStringLiteral("Cancel"), 0, kSteps, parent);
    dialog->setWindowTitle(QStringLiteral("Loading"));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->setMinimumDuration(0);
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    dialog->show();
    return [dialog](double done) {
        dialog->setValue(static_cast<int>(std::lround(std::clamp(done, 0.0, 1.0) * kSteps)));
        // Every report handles the pending events, so the window keeps painting
        // and Cancel is seen; the dialog keeps input from the window meanwhile.
        QCoreApplication::processEvents();
        return !dialog->wasCanceled();
    };
}
