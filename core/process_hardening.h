#pragma once
// What the application does so that its secrets stay its own: no core dumps of its memory,
// children that get nothing but their three standard descriptors and end with it, and
// credentials overwritten once they have been handed over.

#include <QByteArray>
#include <QString>
#include <string>

class QProcess;

namespace norv::ProcessHardening {

// Marks this process non-dumpable: no core dump, and no other process of the user may attach
// to it or read its memory. True when the flag is now set.
bool denyCoreDumps();

// Sets up `process`'s child before it runs its program: `standardInput` (when not -1) becomes
// its descriptor 0, every descriptor above 2 is closed when the program starts (Qt's own
// start-up pipe is already close-on-exec, so Qt still learns of a failed exec), and SIGKILL
// ends the child when the thread that started it ends. Start the process on a thread that
// lives as long as the application (the GUI thread).
void guardChild(QProcess& process, int standardInput = -1);

// Overwrites the characters in place with zeros and empties the value (its storage goes with
// it). A value that shares its storage with another copy, or holds static data, is only
// emptied: the storage is not this value's alone to overwrite.
void wipe(QByteArray& bytes);
void wipe(QString& text);
void wipe(std::string& text);

}  // namespace norv::ProcessHardening
