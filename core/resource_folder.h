#pragma once

#include <QString>

namespace norv {

// The application's resource folder: <folder of the executable>/../share/norv-bridge, the same
// relative layout in the build tree and in an installed copy. Needs the application object.
QString applicationResourceFolder();

}  // namespace norv
