#include "live/live_installation.h"

#include "live/live_version.h"

namespace norv {

bool LiveInstallation::supported() const {
    return LiveVersion::supported(version);
}

}  // namespace norv
