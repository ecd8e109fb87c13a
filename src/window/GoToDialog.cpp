#include "GoToDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

QString AskGoToWithDialog(const QString& initial, const GoToCheck& check, QWidget* parent) {
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("Go to Frame"));
    auto* prompt = new QLabel(QStringLiteral("Frame number, time (h:mm:ss.mmm) or seconds (12.5 or 12s):"));
    auto* answer = new QLineEdit(initial);
    answer->selectAll();
    auto* reason = new QLabel;
    reason->setStyleSheet(QStringLiteral("color: #b00000"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* layout = new QVBoxLayout(&dialog);
    for (QWidget* widget : {static_cast<QWidget*>(prompt), static_cast<QWidget*>(answer),
                            static_cast<QWidget*>(reason), static_cast<QWidget*>(buttons)})
        layout->addWidget(widget);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        reason->setText(check(answer->text()));
        if (reason->text().isEmpty()) dialog.accept();
    });
    return dialog.exec() == QDialog::Accepted ? answer->text() : QString();
}
