#include "live/bundle_info.h"

#include "live/user_file.h"

#include <QXmlStreamReader>

namespace norv {

namespace {

// Reads the value element that follows a <key> in the top-level dictionary. Returns the text of a
// <string>, absent for any other type; the reader is left after the value's end.
std::optional<QString> readValue(QXmlStreamReader& xml) {
    if (!xml.readNextStartElement())
        return std::nullopt;
    if (xml.name() == QLatin1String("string"))
        return xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
    xml.skipCurrentElement();
    return std::nullopt;
}

}  // namespace

std::optional<QString> BundleInfo::string(const QString& bundlePath, const QString& key) {
    const std::optional<QByteArray> contents =
        UserFile::read(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (!contents)
        return std::nullopt;
    // QXmlStreamReader never fetches external entities or DTDs.
    QXmlStreamReader xml(*contents);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return std::nullopt;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("dict"))
        return std::nullopt;

    std::optional<QString> found;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("key")) {
            xml.skipCurrentElement();
            continue;
        }
        const QString name = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        std::optional<QString> value = readValue(xml);
        if (name == key)
            found = std::move(value);
    }
    // Finish the document so a truncated or malformed file is not taken at face value.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError())
        return std::nullopt;
    return found;
}

}  // namespace norv
