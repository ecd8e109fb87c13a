#include "MessageBoxes.h"

#include <QMessageBox>
#include <QPointer>

#include "platform/MsgBox.h"

namespace {

QMessageBox::Icon IconFor(int icon) {
    switch (icon) {
        case MB_ICONERROR: return QMessageBox::Critical;
        case MB_ICONINFORMATION: return QMessageBox::Information;
        default: return QMessageBox::NoIcon;
    }
}

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption, int icon,
                                            QWidget* parent) {
    // Messages separate their lines with CR LF; a lone CR would show as a glyph.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto box = std::make_unique<QMessageBox>(IconFor(icon), QString::fromStdString(caption), shown,
                                             QMessageBox::Ok, parent);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

void InstallMessageBoxDialogs(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    SetMessageBoxHandler([owner](const std::string& text, const std::string& caption, int icon) {
        MakeMessageBox(text, caption, icon, owner.data())->exec();
    });
}
