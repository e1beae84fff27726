#include "live/library_parser.h"

#include "live/user_file.h"

#include <QXmlStreamReader>

namespace norv {

void LibraryParser::startElement(const QString& element, const std::optional<QString>& value) {
    elements_.append(element);
    if (!elements_.contains(QLatin1String("UserLibrary")) || !elements_.contains(QLatin1String("LibraryProject")))
        return;
    if (element == QLatin1String("ProjectPath"))
        root = value;
    else if (element == QLatin1String("ProjectName"))
        name = value;
}

void LibraryParser::endElement() {
    if (!elements_.isEmpty())
        elements_.removeLast();
}

std::optional<LibraryParser::Project> LibraryParser::project(const QString& cfgPath) {
    const std::optional<QByteArray> contents = UserFile::read(cfgPath);
    if (!contents)
        return std::nullopt;
    // QXmlStreamReader never fetches external entities; an unresolved reference is no value.
    QXmlStreamReader xml(*contents);
    LibraryParser parser;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement: {
            const QXmlStreamAttributes attributes = xml.attributes();
            std::optional<QString> value;
            if (attributes.hasAttribute(QLatin1String("Value")))
                value = attributes.value(QLatin1String("Value")).toString();
            parser.startElement(xml.name().toString(), value);
            break;
        }
        case QXmlStreamReader::EndElement:
            parser.endElement();
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !parser.root || !parser.name)
        return std::nullopt;
    return Project{*parser.root, *parser.name};
}

bool LibraryParser::plainName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

std::optional<QString> LibraryParser::read(const QString& cfgPath) {
    const std::optional<Project> values = project(cfgPath);
    if (!values || !values->root.startsWith(QLatin1Char('/')) || !plainName(values->name))
        return std::nullopt;
    QString folder = values->root;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + values->name;
}

}  // namespace norv
