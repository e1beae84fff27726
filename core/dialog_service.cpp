#include "core/dialog_service.h"

namespace norv {

DialogService::~DialogService() = default;

}  // namespace norv
