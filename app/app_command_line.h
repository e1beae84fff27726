#pragma once
// NorvBridgeMac's command line. It is read before the application object exists, so "--help",
// "--version" and a mistyped option end the program before any window, engine, keyring or bus
// is touched.

#include <QString>
#include <QStringList>
#include <optional>

namespace norv {

struct AppCommandLine {
    // Print a line on standard error each time the window's state line changes.
    bool printState = false;

    // Set when the program ends here: what to print, where, and the exit status (0 for "--help"
    // and "--version", 2 for an unknown option or argument).
    struct Exit {
        int status = 0;
        QString text;
        bool toStandardError = false;
    };
    std::optional<Exit> exit;

    // `arguments` includes the program name first, as argv does. Qt's own options (-platform,
    // -style, -display…) are accepted here and left for QApplication to take.
    static AppCommandLine parse(const QStringList& arguments);
    static QStringList fromArgv(int argc, char** argv);
};

}  // namespace norv
