#pragma once
// A dialog service that declines every question and panel and shows nothing.

#include "core/dialog_service.h"

#include <optional>

namespace norv::test {

class NoDialogs : public DialogService {
public:
    bool confirm(const ConfirmationRequest&) override { return false; }
    void alert(const QString&, const QString&) override {}
    std::optional<QString> choosePathToOpen(const FilePanelRequest&) override { return std::nullopt; }
    std::optional<QString> choosePathToSave(const FilePanelRequest&) override { return std::nullopt; }
};

}  // namespace norv::test
