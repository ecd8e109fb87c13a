#include "FrameReadout.h"

#include <QRegularExpression>

namespace {

using Wide = __int128;  // frame offsets times scale times 1000 exceed 64 bits

QString KindText(FrameKind kind) {
    switch (kind) {
        case FrameKind::Key: return QStringLiteral("key");
        case FrameKind::Repeat: return QStringLiteral("repeat");
        case FrameKind::I: return QStringLiteral("I");
        case FrameKind::P: return QStringLiteral("P");
        case FrameKind::B: return QStringLiteral("B");
        case FrameKind::Unknown: break;
    }
    return {};
}

// Milliseconds of a typed time, or nothing when the text is no time.
std::optional<std::int64_t> ReadTime(QString text) {
    // [h:]m:ss[.fraction]
    static const QRegularExpression clock(QStringLiteral(R"(^(?:(\d{1,6}):)?(\d{1,6}):(\d{1,2})(?:\.(\d{1,9}))?$)"));
    // Seconds, told from a frame number by a fraction or a trailing "s".
    static const QRegularExpression seconds(QStringLiteral(R"(^(\d{0,9})(\.(\d{0,9}))?$)"));
    std::int64_t hours = 0, minutes = 0, secs = 0;
    QString fraction;
    if (const auto c = clock.match(text); c.hasMatch()) {
        hours = c.captured(1).toLongLong();
        minutes = c.captured(2).toLongLong();
        secs = c.captured(3).toLongLong();
        fraction = c.captured(4);
        if (secs >= 60 || (c.hasCaptured(1) && minutes >= 60)) return std::nullopt;
    } else {
        const bool unit = text.endsWith(QLatin1Char('s'));
        if (unit) text = text.chopped(1).trimmed();
        const auto s = seconds.match(text);
        if (!s.hasMatch() || !(unit || s.hasCaptured(2)) || (s.captured(1).isEmpty() && s.captured(3).isEmpty()))
            return std::nullopt;
        secs = s.captured(1).toLongLong();
        fraction = s.captured(3);
    }
    const std::int64_t ms = (fraction + QStringLiteral("000")).left(3).toLongLong();
    return ((hours * 60 + minutes) * 60 + secs) * 1000 + ms;
}

}  // namespace

std::int64_t ClipTiming::MsOf(std::int64_t frame) const {
    if (rate <= 0 || scale <= 0) return 0;
    const Wide twice = Wide{frame - first} * scale * 2000;
    const Wide rounded = (twice >= 0 ? twice + rate : twice - rate) / (Wide{2} * rate);
    return static_cast<std::int64_t>(rounded);
}

std::int64_t ClipTiming::FrameAt(std::int64_t ms) const {
    if (rate <= 0 || scale <= 0) return first;
    // The exact division lands on the answer or next to it.
    std::int64_t frame = first + static_cast<std::int64_t>(Wide{ms} * rate / (Wide{scale} * 1000));
    while (MsOf(frame + 1) <= ms) ++frame;
    while (frame > first && MsOf(frame) > ms) --frame;
    return frame;
}

QString FormatTime(std::int64_t ms) {
    const std::int64_t seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString FrameText(const ClipTiming& timing, std::int32_t frame, FrameKind kind) {
    QString text = QStringLiteral("Frame %1 of %2\u2013%3").arg(frame).arg(timing.first).arg(timing.last) + kReadoutDot +
                   FormatTime(timing.MsOf(frame));
    if (const QString kindText = KindText(kind); !kindText.isEmpty()) text += kReadoutDot + kindText;
    return text;
}

QString PixelText(QPoint pixel, std::uint32_t rgb) {
    return QStringLiteral("x %1 y %2").arg(pixel.x()).arg(pixel.y()) + kReadoutDot +
           QStringLiteral("R %1 G %2 B %3").arg(rgb >> 16 & 0xFF).arg(rgb >> 8 & 0xFF).arg(rgb & 0xFF);
}

GoToAnswer ReadGoTo(const ClipTiming& timing, const QString& typed) {
    const QString text = typed.trimmed();
    static const QRegularExpression number(QStringLiteral(R"(^-?\d+$)"));
    if (number.match(text).hasMatch()) {
        bool ok = false;
        const qlonglong frame = text.toLongLong(&ok);
        if (ok && frame >= timing.first && frame <= timing.last) return {static_cast<std::int32_t>(frame), {}};
        return {std::nullopt,
                QStringLiteral("Frame %1 is outside %2\u2013%3").arg(text).arg(timing.first).arg(timing.last)};
    }
    const std::optional<std::int64_t> ms = ReadTime(text);
    if (!ms) return {std::nullopt, QStringLiteral("Type a frame number, h:mm:ss.mmm or seconds")};
    // A time counts up to the end of the last frame.
    if (*ms >= timing.MsOf(std::int64_t{timing.last} + 1))
        return {std::nullopt, QStringLiteral("%1 is past the end of the clip (%2)")
                                  .arg(FormatTime(*ms), FormatTime(timing.MsOf(timing.last)))};
    return {static_cast<std::int32_t>(timing.FrameAt(*ms)), {}};
}
