#include "ui/devices/device_endpoint_row.h"

#include "ui/components/page_frame.h"
#include "ui/theme/norv_symbols.h"
#include "ui/theme/norv_theme.h"
#include "ui/theme/page_components.h"

#include <QFontInfo>
#include <QHBoxLayout>

namespace norv {

DeviceEndpointRow::DeviceEndpointRow(const EndpointRowContent& content, QWidget* parent) : QWidget(parent) {
    setObjectName(content.id);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    role_ = makeSymbolText(content.symbol, content.title, NorvTheme::primary(), NorvTheme::bodyFont(), this);
    symbol_ = role_->findChild<SymbolLabel*>();
    title_ = role_->findChild<QLabel*>(QStringLiteral("text"));
    layout->addWidget(role_);
    layout->addStretch();
    name_ = makeLabel(content.name, NorvTheme::calloutFont(), NorvTheme::primary(), this);
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(name_);
}

void DeviceEndpointRow::setContent(const EndpointRowContent& content) {
    // The id stays: a row with another id is another row.
    if (symbol_->symbolName() != content.symbol) {
        symbol_->setSymbol(content.symbol, NorvTheme::primary(), QFontInfo(NorvTheme::bodyFont()).pixelSize() + 2);
        NorvSymbols::tag(role_, content.symbol);
    }
    title_->setText(content.title);
    // A selection inside the name is the user's; it goes only when the name itself changes.
    if (name_->text() != content.name) name_->setText(content.name);
}

}  // namespace norv
