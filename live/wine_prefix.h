#pragma once

#include "live/live_installation.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace norv {

// Ableton Live for Windows inside Wine prefixes. A prefix is a folder holding drive_c/; Live is
// installed as drive_c/ProgramData/Ableton/<folder>/Program/Ableton Live <...>.exe and keeps one
// preferences folder per exact version, drive_c/users/<user>/AppData/Roaming/Ableton/Live
// <version>/ Preferences/, whose Library.cfg names the User Library as a Windows path.
class WinePrefix {
public:
    // A file name that begins with "Ableton Live" and ends with ".exe".
    static bool isLiveExecutableName(const QString& fileName);

    // The prefix whose drive_c holds `path`: the folder before the last "drive_c" component, when
    // that drive_c is a folder; empty otherwise.
    static QString containing(const QString& path);

    // The Live executables of a prefix, sorted; nothing when the prefix cannot be read.
    static QStringList executables(const QString& prefix);

    // Whether `text` is an absolute Windows path on a drive ("C:\..." or "D:/...").
    static bool isWindowsPath(const QString& text);

    // The path on this machine of an absolute Windows path: "C:" is the prefix's drive_c, another
    // letter the prefix's dosdevices/<letter>:. Names are matched without regard to case where the
    // exact one does not exist, as Windows does; "." and ".." stay on the drive. Absent when
    // `windowsPath` is not an absolute drive path, or names a drive the prefix does not have.
    static std::optional<QString> unixPath(const QString& prefix, const QString& windowsPath);

    // The drive letter of a path inside a prefix drive that does not exist (".../dosdevices/d:/..."
    // without that dosdevices entry); empty otherwise. Nothing may be written there: the folder
    // would become a new drive of the prefix.
    static QString missingDrive(const QString& path);

    // The installation an existing Live executable inside a prefix stands for: its version is the
    // newest preferences version of any user but "Public" whose major number is the number in the
    // executable's name, else that number alone; its User Library the one that version's
    // Library.cfg names, else the user's Documents/Ableton/User Library when that folder exists.
    // Absent for any other path, or a name without a number.
    static std::optional<LiveInstallation> describe(const QString& executable);
};

}  // namespace norv
