// What the window offers for working with the shown frame: the frame and
// pixel readouts, and the keyboard's commands (go to, first and last frame,
// play or stop, save, copy, zoom).
#include <algorithm>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QScrollBar>

#include "frmMain.h"
#include "CompareView.h"
#include "FrameReadout.h"
#include "frameimage/FrameImage.h"
#include "platform/MsgBox.h"

namespace {

// Zooming out by key or wheel stops at 1/8; only Fit goes further.
constexpr int kLeastKeyZoomPower = -3;

// "8×", "1/2×"
QString ZoomText(int power) {
    return power >= 0 ? QStringLiteral("%1\u00D7").arg(1 << power) : QStringLiteral("1/%1\u00D7").arg(1 << -power);
}

ClipTiming TimingOf(const cAVI& clip, const QScrollBar& bar) {
    return {bar.minimum(), bar.maximum(), clip.GetRate(), clip.GetScale()};
}

}  // namespace

void frmMain::CreateReadout() {
    for (QLabel** label : {&lblFrame, &lblPixel, &lblZoom}) {
        *label = new QLabel(this);
        (*label)->setTextFormat(Qt::PlainText);
    }
    lblFrame->setObjectName(QStringLiteral("lblFrame"));
    lblPixel->setObjectName(QStringLiteral("lblPixel"));
    lblZoom->setObjectName(QStringLiteral("lblZoom"));
    lblZoom->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    picDisp->setToolTip(QStringLiteral("Ctrl+G go to a frame \u00B7 Ctrl+S save it \u00B7 Ctrl+C copy it \u00B7 "
                                       "+ and \u2212 or Ctrl+wheel zoom \u00B7 1 or Ctrl+0 one to one \u00B7 F fit \u00B7 "
                                       "drag, wheel or scroll bars move it"));
}

// Window-wide keys: they work wherever the focus is, except in a text field,
// which takes its own keys first.
void frmMain::CreateShortcuts() {
    AddShortcut({QKeySequence(Qt::CTRL | Qt::Key_G)}, &frmMain::GoToFrame);
    AddShortcut({QKeySequence(Qt::Key_Home)}, &frmMain::ToFirstFrame);
    AddShortcut({QKeySequence(Qt::Key_End)}, &frmMain::ToLastFrame);
    AddShortcut({QKeySequence(Qt::Key_Space)}, &frmMain::PlayOrStop);
    AddShortcut(QKeySequence::keyBindings(QKeySequence::Save), &frmMain::SaveFrame);
    AddShortcut(QKeySequence::keyBindings(QKeySequence::Copy), &frmMain::CopyFrame);
    AddShortcut({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal),
                 QKeySequence(Qt::KeypadModifier | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Plus)},
                &frmMain::ZoomIn);
    AddShortcut({QKeySequence(Qt::Key_Minus), QKeySequence(Qt::KeypadModifier | Qt::Key_Minus),
                 QKeySequence(Qt::CTRL | Qt::Key_Minus)},
                &frmMain::ZoomOut);
    AddShortcut({QKeySequence(Qt::Key_1), QKeySequence(Qt::KeypadModifier | Qt::Key_1), QKeySequence(Qt::CTRL | Qt::Key_0)},
                &frmMain::ZoomActual);
    AddShortcut({QKeySequence(Qt::Key_F)}, &frmMain::ZoomFit);
}

void frmMain::AddShortcut(const QList<QKeySequence>& keys, void (frmMain::*command)()) {
    auto* action = new QAction(this);
    action->setShortcuts(keys);
    connect(action, &QAction::triggered, this, command);
    addAction(action);
}

void frmMain::UpdateFrameLabel() {
    const std::shared_ptr<cAVI> clip = CurrentClip();
    if (!clip) return;
    // The reader already knows the kind of what it delivered: no decoding here.
    const std::int32_t frame = TimeLine->value();
    lblFrame->setText(FrameText(TimingOf(*clip, *TimeLine), frame, clip->GetFrameKind(frame)));
}

void frmMain::UpdatePixelLabel() {
    const std::optional<QPoint> pixel = CurrentClip() ? picDisp->PointedPixel() : std::nullopt;
    // Read from the frame's own pixels, not from what the screen shows.
    if (pixel && Compare && Compare->Active()) {
        lblPixel->setText(Compare->PixelText(*pixel));
        return;
    }
    QString text = pixel ? PixelText(*pixel, picDisp->Image().PixelAt(pixel->x(), pixel->y())) : QString();
    // The decoded picture's own values, while the reader still holds it.
    if (pixel) {
        const std::string source = AVIStreamSourceValues(CurrentClip()->FrameReader(), TimeLine->value(), pixel->x(), pixel->y());
        if (!source.empty()) text += QStringLiteral(" \u00B7 ") + QString::fromStdString(source);
    }
    lblPixel->setText(text);
}

void frmMain::GoToFrame() {
    if (!CurrentClip()) return;
    const ClipTiming asked = TimingOf(*CurrentClip(), *TimeLine);
    const QString answer = AskGoTo(
        QString::number(TimeLine->value()), [asked](const QString& text) { return ReadGoTo(asked, text).reason; },
        this);
    // Read again: a clip chosen while the dialog was open has frames of its own.
    const std::shared_ptr<cAVI> clip = CurrentClip();
    if (answer.isEmpty() || !clip) return;
    if (const std::optional<std::int32_t> frame = ReadGoTo(TimingOf(*clip, *TimeLine), answer).frame)
        TimeLine->setValue(*frame);
}

void frmMain::ToFirstFrame() { TimeLine->triggerAction(QAbstractSlider::SliderToMinimum); }

void frmMain::ToLastFrame() { TimeLine->triggerAction(QAbstractSlider::SliderToMaximum); }

void frmMain::PlayOrStop() {
    if (!CurrentClip()) return;
    if (IsPlaying) {
        cmdStop_Click();
    } else {
        cmdPlay_Click();
    }
}

bool frmMain::ReadShownFrame(cDIBx& dib) {
    const std::shared_ptr<cAVI> clip = CurrentClip();
    if (!clip) return false;
    if (clip->ReadFrame(TimeLine->value(), dib)) return true;
    MsgBox("Frame " + std::to_string(TimeLine->value()) + " could not be decoded.", MB_ICONERROR);
    return false;
}

void frmMain::SaveFrame() {
    cDIBx dib;
    if (!ReadShownFrame(dib)) return;
    const QFileInfo clipFile(Combo1->currentData().toString());
    CDSave.FileName = clipFile.dir().filePath(
        QStringLiteral("%1-%2.bmp").arg(clipFile.completeBaseName()).arg(TimeLine->value()));
    CDSave.Filter = QStringLiteral("BMP image|*.bmp|PNG image|*.png");
    CDSave.DialogTitle = QStringLiteral("Save Frame");
    CDSave.ShowSave(this);
    if (CDSave.FileName.isEmpty()) return;
    const std::string path = QFile::encodeName(CDSave.FileName).toStdString();
    if (std::string error; !WriteFrameFile(dib, path, error))
        MsgBox("The frame could not be saved (" + error + "):\r\n" + CDSave.FileName.toStdString(), MB_ICONERROR);
}

void frmMain::CopyFrame() {
    cDIBx dib;
    if (ReadShownFrame(dib)) QGuiApplication::clipboard()->setImage(FrameToImage(dib));
}

void frmMain::ZoomIn() { SetZoomPower(std::min(picDisp->ZoomPower() + 1, PictureBox::kMostZoomPower)); }

void frmMain::ZoomOut() {
    const int power = picDisp->ZoomPower();
    SetZoomPower(power > kLeastKeyZoomPower ? power - 1 : power);
}

void frmMain::ZoomActual() { SetZoomPower(0); }

void frmMain::ZoomFit() {
    if (!CurrentClip()) return;
    zoomFit_ = true;
    picDisp->SetZoomPower(picView->FitPower());
    ShowZoom();
}

void frmMain::SetZoomPower(int power) {
    if (!CurrentClip()) return;
    zoomFit_ = false;
    picDisp->SetZoomPower(power);
    ShowZoom();
}

// Always says the zoom, so that a reduced picture is never taken for the pixels.
void frmMain::ShowZoom() {
    lblZoom->setText(QStringLiteral("Zoom ") + (zoomFit_ ? QStringLiteral("Fit ") : QString()) +
                     ZoomText(picDisp->ZoomPower()));
    UpdatePixelLabel();
}
