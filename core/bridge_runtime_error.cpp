#include "core/bridge_runtime_error.h"

#include "model/text_rules.h"

namespace norv {

BridgeRuntimeError BridgeRuntimeError::corruptFile() {
    return {Kind::corruptFile, 0, "The Bridge runtime copy does not match the shipped runtime."};
}

BridgeRuntimeError BridgeRuntimeError::invalidFileName() {
    return {Kind::invalidFileName, 0, "The Bridge runtime holds a symbolic link."};
}

BridgeRuntimeError BridgeRuntimeError::unknownRead() {
    return {Kind::unknownRead, 0, "The Bridge runtime holds an entry that is neither a file nor a folder."};
}

BridgeRuntimeError BridgeRuntimeError::noSuchFile() {
    return {Kind::noSuchFile, 0, "The Bridge runtime holds no file."};
}

BridgeRuntimeError BridgeRuntimeError::io(const char* operation, const QString& path, int error) {
    const std::string text =
        std::string(operation) + " " + path.toStdString() + ": " + text_rules::errorText(error);
    return {Kind::io, error, text};
}

}  // namespace norv
