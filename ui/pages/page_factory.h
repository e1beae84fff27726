#pragma once
// Builds the page of one section. Only the selected page exists; it is built anew each time
// its section is selected, so leaving a page discards its view state.

#include "model/bridge_section.h"

class QWidget;

namespace norv {

class BridgeStore;

QWidget* makePage(BridgeSection section, BridgeStore& store, QWidget* parent);

}  // namespace norv
