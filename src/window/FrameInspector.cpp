#include "FrameInspector.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include "clip/cAVI.h"
#include "frmMain.h"
#include "platform/mAVIDecs.h"

namespace {

constexpr int kTickHeight = 6;   // pixels under the bar
constexpr int kPanelGap = 8;     // pixels between the picture and the panel
constexpr std::size_t kMarksListed = 40;  // in the panel; the copy has them all

const std::vector<std::int32_t> kNoKeys;

QString Seconds(double seconds) { return seconds < 0 ? QStringLiteral("?") : QString::number(seconds, 'f', 6); }

QString Timestamp(std::int64_t value, const FrameFacts& f) {
    if (value == TablePacket::kNoTime) return QStringLiteral("not given");
    const double seconds = static_cast<double>(value) * f.timeBaseNum / std::max(f.timeBaseDen, 1);
    return QStringLiteral("%1 (%2/%3) = %4 s")
        .arg(value)
        .arg(f.timeBaseNum)
        .arg(f.timeBaseDen)
        .arg(QString::number(seconds, 'f', 6));  // a decode time may lie before 0
}

QString PictureType(FrameKind kind) {
    switch (kind) {
        case FrameKind::Key:
        case FrameKind::I: return QStringLiteral("I");
        case FrameKind::P: return QStringLiteral("P");
        case FrameKind::B: return QStringLiteral("B");
        case FrameKind::Repeat: return QStringLiteral("that of the repeated frame");
        default: return QStringLiteral("not decoded yet");
    }
}

QString YesNo(bool value) { return value ? QStringLiteral("yes") : QStringLiteral("no"); }

}  // namespace

// ---- Key ticks ---------------------------------------------------------------

KeyTicks::KeyTicks(QScrollBar& bar, QWidget* parent) : QWidget(parent), bar_(bar) {
    setObjectName(QStringLiteral("KeyTicks"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setToolTip(QStringLiteral("Key frames \u00B7 Ctrl+Left and Ctrl+Right go to them"));
}

void KeyTicks::SetKeys(const std::vector<std::int32_t>* keys) {
    keys_ = keys;
    update();
}

void KeyTicks::Follow() {
    const QRect bar = bar_.geometry();
    setGeometry(bar.x(), bar.bottom() + 1, bar.width(), kTickHeight);
    raise();
    update();
}

int BarScale::X(std::int32_t frame) const {
    return left + QStyle::sliderPositionFromValue(minimum, maximum, frame, span, rightToLeft);
}

BarScale KeyTicks::Scale() const {
    QStyleOptionSlider option;
    option.initFrom(&bar_);
    option.orientation = bar_.orientation();
    option.minimum = bar_.minimum();
    option.maximum = bar_.maximum();
    option.sliderPosition = option.sliderValue = bar_.value();
    option.singleStep = bar_.singleStep();
    option.pageStep = bar_.pageStep();
    option.subControls = QStyle::SC_All;
    const QStyle* style = bar_.style();
    const QRect groove = style->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, &bar_);
    const QRect thumb = style->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, &bar_);
    return {groove.x() + thumb.width() / 2, std::max(groove.width() - thumb.width(), 0), bar_.minimum(),
            bar_.maximum(), bar_.isRightToLeft()};
}

void KeyTicks::paintEvent(QPaintEvent*) {
    if (!keys_ || keys_->empty()) return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const BarScale scale = Scale();
    int lastX = -1;
    for (const std::int32_t key : *keys_) {
        const int x = scale.X(key);
        if (x == lastX) continue;  // one tick a pixel, however many keys share it
        painter.drawLine(x, 0, x, height() - 1);
        lastX = x;
    }
}

// ---- The inspector -----------------------------------------------------------

FrameInspector::FrameInspector(frmMain& window) : window_(window) {
    Ticks = new KeyTicks(*window.TimeLine, &window);
    Panel = new QLabel(&window);
    Panel->setObjectName(QStringLiteral("FramePanel"));
    Panel->setTextFormat(Qt::PlainText);
    Panel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Panel->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Panel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Panel->setFrameShape(QFrame::StyledPanel);
    Panel->setMargin(6);
    Panel->setAutoFillBackground(true);  // readable over the picture it may cover
    Panel->hide();
    const auto add = [&](const QKeySequence& key, void (FrameInspector::*command)()) {
        auto* action = new QAction(&window);
        action->setShortcut(key);
        QObject::connect(action, &QAction::triggered, &window, [this, command] { (this->*command)(); });
        window.addAction(action);
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_Left), &FrameInspector::PreviousKey);
    add(QKeySequence(Qt::CTRL | Qt::Key_Right), &FrameInspector::NextKey);
    add(QKeySequence(Qt::Key_M), &FrameInspector::ToggleMark);
    add(QKeySequence(Qt::Key_BracketLeft), &FrameInspector::PreviousMark);
    add(QKeySequence(Qt::Key_BracketRight), &FrameInspector::NextMark);
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), &FrameInspector::CopyMarks);
    add(QKeySequence(Qt::Key_I), &FrameInspector::TogglePanel);
    Place();
}

std::shared_ptr<cAVI> FrameInspector::Clip() const {
    const auto& clips = window_.Clips();
    const int index = window_.Combo1->currentIndex();
    if (index < 0 || index >= static_cast<int>(clips.size())) return nullptr;
    return clips[static_cast<std::size_t>(index)];
}

void FrameInspector::Forget() {
    const auto& clips = window_.Clips();
    const auto loaded = [&](const cAVI* clip) {
        return std::any_of(clips.begin(), clips.end(), [&](const auto& c) { return c.get() == clip; });
    };
    std::erase_if(keys_, [&](const auto& entry) { return !loaded(entry.first); });
    std::erase_if(marks_, [&](const auto& entry) { return !loaded(entry.first); });
}

void FrameInspector::ClipChanged() {
    Forget();
    const std::shared_ptr<cAVI> clip = Clip();
    if (clip && !keys_.count(clip.get())) {
        std::vector<std::int32_t>& keys = keys_[clip.get()];
        for (const LONG key : AVIStreamKeyFrames(clip->Stream())) keys.push_back(static_cast<std::int32_t>(key));
    }
    Ticks->SetKeys(clip ? &keys_[clip.get()] : nullptr);
    Place();
}

void FrameInspector::FrameChanged() {
    if (Panel->isVisible()) Panel->setText(PanelText());
    Place();
}

// The panel sits at the top of the picture's room, beside the part of the
// picture shown there, or over its right end when the picture fills the room.
void FrameInspector::Place() {
    Ticks->Follow();
    const QRect room = window_.picView->geometry();
    const QRect picture(window_.picDisp->mapTo(&window_, QPoint()), window_.picDisp->size());
    const QRect shown = picture & room;
    Panel->adjustSize();
    const int x = std::min(shown.right() + 1 + kPanelGap, room.right() + 1 - Panel->width());
    Panel->move(std::max(room.left(), x), room.top());
    Panel->raise();
}

const std::vector<std::int32_t>& FrameInspector::KeyFrames() const {
    const std::shared_ptr<cAVI> clip = Clip();
    const auto it = clip ? keys_.find(clip.get()) : keys_.end();
    return it != keys_.end() ? it->second : kNoKeys;
}

std::vector<std::int32_t> FrameInspector::Marks() const {
    const std::shared_ptr<cAVI> clip = Clip();
    const auto it = clip ? marks_.find(clip.get()) : marks_.end();
    return it != marks_.end() ? std::vector<std::int32_t>(it->second.begin(), it->second.end())
                              : std::vector<std::int32_t>();
}

void FrameInspector::Go(std::int32_t frame) { window_.TimeLine->setValue(frame); }

void FrameInspector::PreviousKey() {
    const auto& keys = KeyFrames();
    const auto it = std::lower_bound(keys.begin(), keys.end(), window_.TimeLine->value());
    if (it != keys.begin()) Go(*std::prev(it));
}

void FrameInspector::NextKey() {
    const auto& keys = KeyFrames();
    const auto it = std::upper_bound(keys.begin(), keys.end(), window_.TimeLine->value());
    if (it != keys.end()) Go(*it);
}

// M marks the shown frame, or takes the mark away from a marked one.
void FrameInspector::ToggleMark() {
    const std::shared_ptr<cAVI> clip = Clip();
    if (!clip) return;
    std::set<std::int32_t>& marks = marks_[clip.get()];
    const std::int32_t frame = window_.TimeLine->value();
    if (!marks.erase(frame)) marks.insert(frame);
    FrameChanged();
}

void FrameInspector::PreviousMark() {
    const std::vector<std::int32_t> marks = Marks();
    const auto it = std::lower_bound(marks.begin(), marks.end(), window_.TimeLine->value());
    if (it != marks.begin()) Go(*std::prev(it));
}

void FrameInspector::NextMark() {
    const std::vector<std::int32_t> marks = Marks();
    const auto it = std::upper_bound(marks.begin(), marks.end(), window_.TimeLine->value());
    if (it != marks.end()) Go(*it);
}

void FrameInspector::CopyMarks() {
    if (!Clip()) return;
    QString text;
    for (const std::int32_t frame : Marks()) text += QString::number(frame) + QLatin1Char('\n');
    QGuiApplication::clipboard()->setText(text);
}

void FrameInspector::TogglePanel() {
    Panel->setVisible(!Panel->isVisible());
    FrameChanged();
}

QString FrameInspector::PanelText() const {
    const std::shared_ptr<cAVI> clip = Clip();
    if (!clip) return QStringLiteral("No clip");
    const std::int32_t frame = window_.TimeLine->value();
    FrameFacts f;
    StreamFacts s;
    const bool known = AVIStreamGetFrameFacts(clip->Stream(), frame, &f) == 0;
    AVIStreamGetFormatFacts(clip->Stream(), clip->FrameReader(), &s);
    QStringList lines;
    lines << QStringLiteral("Frame %1").arg(frame);
    if (!known) {
        lines << QStringLiteral("outside the clip");
    } else if (f.repeat) {
        lines << QStringLiteral("repeat: shows the picture of frame %1").arg(f.repeatOf)
              << QStringLiteral("time: %1 s").arg(Seconds(f.seconds));
    } else {
        lines << QStringLiteral("pts: %1").arg(Timestamp(f.pts, f)) << QStringLiteral("dts: %1").arg(Timestamp(f.dts, f))
              << QStringLiteral("packet: byte %1, %2 bytes")
                     .arg(f.packetPos >= 0 ? QString::number(f.packetPos) : QStringLiteral("unknown"))
                     .arg(f.packetSize)
              << QStringLiteral("key frame: %1").arg(YesNo(f.key)) << QStringLiteral("repeat: no");
    }
    lines << QStringLiteral("picture type: %1").arg(PictureType(clip->GetFrameKind(frame)));
    const PictureFields fields = AVIStreamGetFrameFields(clip->FrameReader(), frame);
    if (fields.known) {
        lines << QStringLiteral("interlaced: %1").arg(fields.interlaced ? (fields.topFieldFirst ? "yes, top field first"
                                                                                                 : "yes, bottom field first")
                                                                        : "no")
              << QStringLiteral("repeat field: %1").arg(YesNo(fields.repeatField));
    } else {
        lines << QStringLiteral("interlaced: not decoded yet") << QStringLiteral("repeat field: not decoded yet");
    }
    const QString depth = s.bitDepth > 0 ? QStringLiteral("%1 bits").arg(s.bitDepth) : QStringLiteral("? bits");
    lines << QString()
          << QStringLiteral("codec: %1, profile %2").arg(QString::fromStdString(s.codec), QString::fromStdString(s.profile))
          << QStringLiteral("pixel format: %1, %2").arg(QString::fromStdString(s.pixelFormat), depth)
          << QStringLiteral("matrix: %1, range %2").arg(QString::fromStdString(s.matrix), QString::fromStdString(s.range))
          << QStringLiteral("primaries: %1").arg(QString::fromStdString(s.primaries))
          << QStringLiteral("transfer: %1").arg(QString::fromStdString(s.transfer))
          << QStringLiteral("field order: %1").arg(QString::fromStdString(s.fieldOrder))
          << QStringLiteral("sample aspect ratio: %1")
                 .arg(s.sarNum > 0 ? QStringLiteral("%1:%2").arg(s.sarNum).arg(s.sarDen) : QStringLiteral("unknown"));
    const std::vector<std::int32_t> marks = Marks();
    QStringList listed;
    for (std::size_t i = 0; i < marks.size() && i < kMarksListed; ++i) listed << QString::number(marks[i]);
    if (marks.size() > kMarksListed) listed << QStringLiteral("\u2026 (%1 in all)").arg(marks.size());
    lines << QString() << QStringLiteral("marks (M, [ ], Ctrl+Shift+C): %1")
                              .arg(listed.isEmpty() ? QStringLiteral("none") : listed.join(QStringLiteral(", ")));
    return lines.join(QLatin1Char('\n'));
}
