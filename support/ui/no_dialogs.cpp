#include "support/ui/no_dialogs.h"

namespace norv::test {

bool NoDialogs::confirm(const ConfirmationRequest&) { return false; }

void NoDialogs::alert(const QString&, const QString&) {}

std::optional<QString> NoDialogs::choosePathToOpen(const FilePanelRequest&) { return std::nullopt; }

std::optional<QString> NoDialogs::choosePathToSave(const FilePanelRequest&) { return std::nullopt; }

}  // namespace norv::test
