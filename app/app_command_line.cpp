#include "app/app_command_line.h"

#include <QCommandLineParser>

namespace norv {

namespace {

constexpr auto kProgram = "NorvBridgeMac";

// Qt's own options, which QApplication removes from the arguments it keeps; the usage does not
// list them.
constexpr const char* kQtValueOptions[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "geometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "session",
                                           "display",
                                           "name",
                                           "visual",
                                           "style",
                                           "stylesheet"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb"};

}  // namespace

AppCommandLine AppCommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform offscreen"), never bundled letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Norv Bridge: tablets and phones as MIDI and MPE instruments for Ableton Live.\n"
        "Opens the \"Norv Bridge\" window, and a tray icon where the desktop shows one, starts the "
        "bridge engine and connects to it. Where Norv Bridge already runs in this session, brings "
        "its window to the front instead and exits.\n"
        "Qt's standard options (-platform, -style, -display...) are accepted as well."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this text and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the version and exit."));
    const QCommandLineOption printState(
        QStringLiteral("print-state"),
        QStringLiteral("Print a line on standard error each time the window's state changes."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(printState);
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QLatin1String(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option{QLatin1String(name)};
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // The parser names the program after argv[0] (or "<executable_name>" without an application
    // object): the usage line names it as installed.
    QString usage = parser.helpText();
    usage.replace(0, usage.indexOf(QLatin1Char('\n')),
                  QStringLiteral("Usage: %1 [options]").arg(QLatin1String(kProgram)));
    AppCommandLine result;
    const auto fail = [&](const QString& reason) {
        result.exit = Exit{
            2, QStringLiteral("%1: %2\n\n%3").arg(QLatin1String(kProgram), reason, usage), true};
        return result;
    };
    if (!parser.parse(arguments)) return fail(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("Unexpected argument '%1'.")
                        .arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(help)) {
        result.exit = Exit{0, usage, false};
    } else if (parser.isSet(version)) {
        result.exit = Exit{0,
                           QStringLiteral("%1 %2\n").arg(QLatin1String(kProgram),
                                                         QStringLiteral(NORV_BRIDGE_VERSION)),
                           false};
    }
    result.printState = parser.isSet(printState);
    return result;
}

QStringList AppCommandLine::fromArgv(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

}  // namespace norv
