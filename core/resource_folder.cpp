#include "core/resource_folder.h"

#include <QCoreApplication>
#include <QDir>

namespace norv {

QString applicationResourceFolder() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/norv-bridge"));
}

}  // namespace norv
