#pragma once
// Dialogs for real: modal message boxes and the desktop's file panels.

#include "core/dialog_service.h"

class QWidget;

namespace norv {

class WidgetDialogService : public DialogService {
public:
    // Dialogs are modal over `parent` when one is given.
    explicit WidgetDialogService(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    bool confirm(const ConfirmationRequest& request) override;
    void alert(const QString& message, const QString& informativeText) override;
    std::optional<QString> choosePathToOpen(const FilePanelRequest& request) override;
    std::optional<QString> choosePathToSave(const FilePanelRequest& request) override;

private:
    QWidget* parent_;
};

}  // namespace norv
