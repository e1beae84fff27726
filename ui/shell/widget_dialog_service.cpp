#include "ui/shell/widget_dialog_service.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace norv {

bool WidgetDialogService::confirm(const ConfirmationRequest& request) {
    QMessageBox box(request.warning ? QMessageBox::Warning : QMessageBox::Question, request.message,
                    request.message, QMessageBox::NoButton, parent_);
    box.setInformativeText(request.informativeText);
    QPushButton* confirmButton = box.addButton(request.confirmButton, QMessageBox::AcceptRole);
    QPushButton* cancelButton = box.addButton(request.cancelButton, QMessageBox::RejectRole);
    box.setDefaultButton(confirmButton);
    box.setEscapeButton(cancelButton);
    box.exec();
    return box.clickedButton() == confirmButton;
}

void WidgetDialogService::alert(const QString& message, const QString& informativeText) {
    QMessageBox box(QMessageBox::Warning, message, message, QMessageBox::Ok, parent_);
    box.setInformativeText(informativeText);
    box.exec();
}

std::optional<QString> WidgetDialogService::choosePathToOpen(const FilePanelRequest& request) {
    const QString path =
        request.chooseDirectory
            ? QFileDialog::getExistingDirectory(parent_, request.title, request.directory)
            : QFileDialog::getOpenFileName(parent_, request.title, request.directory, request.nameFilters.join(";;"));
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> WidgetDialogService::choosePathToSave(const FilePanelRequest& request) {
    const QString start = request.directory.isEmpty() ? request.proposedName
                                                      : QDir(request.directory).filePath(request.proposedName);
    // The panel itself adds the suffix, so its question about replacing a file is asked of the
    // name that will be written.
    QFileDialog panel(parent_, request.title, start, request.nameFilters.join(QStringLiteral(";;")));
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    if (!request.defaultSuffix.isEmpty()) panel.setDefaultSuffix(request.defaultSuffix);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty()) return std::nullopt;
    const QString path = panel.selectedFiles().constFirst();
    if (path.isEmpty()) return std::nullopt;
    return path;
}

}  // namespace norv
