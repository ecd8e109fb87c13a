#include "CommandLine.h"

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int kUsageError = 2;

void Print(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments, bool reportErrors) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A frame-accurate viewer and player for video files: AVI, MP4, MOV, MKV, WebM, Ogg,\n"
                       "MPEG-TS, FLV and whatever else FFmpeg reads. Each FILE opens as a clip."));
    // Not addHelpOption(): its --help-all (Qt's own options) only works from
    // QCommandLineParser::process, which needs the application object.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("Video files to open."),
                                 QStringLiteral("[FILE...]"));

    CommandLine result;
    if (!parser.parse(arguments)) {
        if (reportErrors) {
            Print(stderr, QStringLiteral("framewise: %1\nRun 'framewise --help' for usage.\n").arg(parser.errorText()));
            result.ExitStatus = kUsageError;
        }
        return result;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // The program's name as the user types it, whatever path ran it (and
        // also before the application object exists).
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: framewise"));
        Print(stdout, text);
        result.ExitStatus = 0;
    } else if (parser.isSet(version)) {
        Print(stdout, QStringLiteral("framewise ") + QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        result.ExitStatus = 0;
    }
    for (const QString& file : parser.positionalArguments()) result.Files << QFileInfo(file).absoluteFilePath();
    return result;
}
