#include "CommonDialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

// "*.avi" -> "*.[aA][vV][iI]": Qt's dialog matches patterns case-sensitively
// on some platforms, and a file named CLIP.AVI must still be offered.
QString AnyCasePattern(const QString& pattern) {
    QString result;
    for (const QChar c : pattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            result += QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper());
        else
            result += c;
    }
    return result;
}

}  // namespace

void CommonDialog::ShowOpen(QWidget* parent) {
    DialogMode = Mode::Open;
    Ask(parent);
}

void CommonDialog::ShowSave(QWidget* parent) {
    DialogMode = Mode::Save;
    Ask(parent);
}

void CommonDialog::Ask(QWidget* parent) {
    FileName = presenter_ ? presenter_(*this, parent) : QString();
    if (!FileName.isEmpty()) InitDir = QFileInfo(FileName).absolutePath();
}

QString CommonDialog::FileTitle() const { return QFileInfo(FileName).fileName(); }

QStringList CommonDialog::NameFilters() const {
    const QStringList parts = Filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << AnyCasePattern(pattern.trimmed());
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters;
}

void CommonDialog::Configure(QFileDialog& dialog) const {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(DialogMode == Mode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Any name may be typed; the clip reports a file it cannot open.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (DialogMode == Mode::Save) {
        // A name typed without an extension takes that of the chosen filter.
        const QStringList parts = Filter.split(QLatin1Char('|'));
        QStringList suffixes;
        for (qsizetype i = 1; i < parts.size(); i += 2)
            suffixes << parts[i].section(QLatin1Char(';'), 0, 0).section(QLatin1String("*."), 1);
        const QStringList shown = NameFilters();
        dialog.setDefaultSuffix(suffixes.value(0));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, shown, suffixes](const QString& filter) {
                             dialog.setDefaultSuffix(suffixes.value(shown.indexOf(filter)));
                         });
    }
    if (!InitDir.isEmpty()) dialog.setDirectory(InitDir);
    dialog.setWindowTitle(DialogTitle);
    dialog.setNameFilters(NameFilters());
    dialog.selectFile(FileName);
}

QString CommonDialog::AskWithFileDialog(const CommonDialog& settings, QWidget* parent) {
    QFileDialog dialog(parent);
    settings.Configure(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}
