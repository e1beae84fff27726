#pragma once
// What the core asks of its host: confirmations, alerts and file panels. The Widgets
// application answers with real dialogs; tests answer with scripted replies.

#include <QString>
#include <QStringList>
#include <optional>

namespace norv {

struct ConfirmationRequest {
    QString message;          // the question, e.g. "Stop Bridge?"
    QString informativeText;  // the line under it
    QString confirmButton;    // first button; choosing it answers true
    QString cancelButton = QStringLiteral("Cancel");
    bool warning = true;
};

struct FilePanelRequest {
    QString title;
    QString directory;       // where the panel opens; empty for the platform's choice
    QString proposedName;    // save panels only
    QStringList nameFilters; // e.g. "CSV files (*.csv)"
    QString defaultSuffix;   // save panels: added to a name typed without it, before the overwrite check
    bool chooseDirectory = false;
};

class DialogService {
public:
    virtual ~DialogService();
    // Modal; true when the confirm button was chosen.
    virtual bool confirm(const ConfirmationRequest& request) = 0;
    virtual void alert(const QString& message, const QString& informativeText) = 0;
    // Empty when the user cancelled.
    virtual std::optional<QString> choosePathToOpen(const FilePanelRequest& request) = 0;
    virtual std::optional<QString> choosePathToSave(const FilePanelRequest& request) = 0;
};

}  // namespace norv
