// Live's files on disk: an application's Contents/Info.plist and Library.cfg. The first byte
// picks the reader; the rest is written to a private scratch folder and read back.
#include "fuzz/fuzz_input.h"
#include "live/bundle_info.h"
#include "live/library_parser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace norv;

namespace {

void write(const QString& path, std::span<const std::uint8_t> bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        __builtin_trap();
    file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir scratch;
    if (!scratch.isValid())
        __builtin_trap();
    fuzz::FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    if (mode & 1) {
        const QString bundle = scratch.filePath(QStringLiteral("Live.app"));
        QDir().mkpath(bundle + QStringLiteral("/Contents"));
        write(bundle + QStringLiteral("/Contents/Info.plist"), input.rest());
        static const std::array keys{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("CFBundleVersion"),
                                     QStringLiteral("CFBundleIdentifier"), QStringLiteral("CFBundleName")};
        (void)BundleInfo::string(bundle, keys[(mode >> 1) % keys.size()]);
    } else {
        const QString path = scratch.filePath(QStringLiteral("Library.cfg"));
        write(path, input.rest());
        const auto folder = LibraryParser::read(path);
        if (folder && folder->isEmpty())
            __builtin_trap();
    }
    return 0;
}
