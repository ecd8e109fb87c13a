// framewise: the viewer window. Files named on the command line are loaded
// as clips once the window is up.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QStringList>

#include "MessageBoxes.h"
#include "frmMain.h"
#include "platform/MsgBox.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/framewise.png")));

    // argv as QApplication left it: Qt's own options are gone, and names are
    // decoded as the file system encodes them.
    QStringList files;
    for (int i = 1; i < argc; ++i) files << QFileInfo(QFile::decodeName(argv[i])).absoluteFilePath();

    frmMain window;
    InstallMessageBoxDialogs(&window);
    window.show();
    QMetaObject::invokeMethod(
        &window,
        [&window, files] {
            for (const QString& file : files) window.LoadFile(file);
        },
        Qt::QueuedConnection);
    return QApplication::exec();
}
