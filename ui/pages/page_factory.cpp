#include "ui/pages/page_factory.h"

#include "core/bridge_store.h"
#include "ui/theme/page_components.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace norv {

namespace {

// The page frame every section shares: a scrolling column, 24 pt around and 22 pt between blocks.
QWidget* placeholderPage(BridgeSection section, QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* column = new QWidget(scroll);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(22);
    layout->addWidget(new PageHeader(QStringLiteral("NORV BRIDGE"), QString::fromUtf8(section.title().data(),
                                                                                        section.title().size()),
                                     QString(), column));
    layout->addStretch();
    scroll->setWidget(column);
    scroll->setObjectName(QStringLiteral("page_") +
                          QString::fromUtf8(section.rawValue().data(), section.rawValue().size()));
    return scroll;
}

}  // namespace

QWidget* makePage(BridgeSection section, BridgeStore&, QWidget* parent) {
    return placeholderPage(section, parent);
}

}  // namespace norv
