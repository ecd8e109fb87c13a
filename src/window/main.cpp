// framewise: the viewer window. Files named on the command line are loaded
// as clips once the window is up.
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QSettings>
#include <QStringList>

#include "CommandLine.h"
#include "MessageBoxes.h"
#include "WindowSettings.h"
#include "frmMain.h"
#include "platform/MsgBox.h"

namespace {

QStringList Arguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QFile::decodeName(argv[i]);
    return arguments;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    QApplication::setApplicationVersion(QStringLiteral(FRAMEWISE_VERSION));
    // --help and --version are answered before the window system is reached,
    // so that they work without a display (help2man, a terminal over ssh).
    if (const CommandLine early = ParseCommandLine(Arguments(argc, argv), false); early.ExitStatus)
        return *early.ExitStatus;

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/framewise.png")));
    // The arguments as QApplication left them: Qt's own options are gone.
    const CommandLine commandLine = ParseCommandLine(QApplication::arguments(), true);
    if (commandLine.ExitStatus) return *commandLine.ExitStatus;

    frmMain window;
    InstallMessageBoxDialogs(&window);
    const auto settings = UserSettings();
    RestoreWindowSettings(window, *settings);
    window.show();
    QMetaObject::invokeMethod(
        &window,
        [&window, files = commandLine.Files] {
            for (const QString& file : files) window.LoadFile(file);
        },
        Qt::QueuedConnection);
    const int status = QApplication::exec();
    SaveWindowSettings(window, *settings);
    return status;
}
