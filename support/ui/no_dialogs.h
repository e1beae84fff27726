#pragma once
// A dialog service that declines every question and panel and shows nothing.

#include "core/dialog_service.h"

#include <optional>

namespace norv::test {

class NoDialogs : public DialogService {
public:
    bool confirm(const ConfirmationRequest&) override;
    void alert(const QString&, const QString&) override;
    std::optional<QString> choosePathToOpen(const FilePanelRequest&) override;
    std::optional<QString> choosePathToSave(const FilePanelRequest&) override;
};

}  // namespace norv::test
