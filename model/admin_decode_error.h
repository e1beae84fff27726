#pragma once

#include <stdexcept>
#include <string>

namespace norv {

// A body that does not follow the admin decoding convention. The detail is for tests and
// debugging only; callers show their own fixed reason.
class AdminDecodeError : public std::runtime_error {
public:
    explicit AdminDecodeError(const std::string& detail) : std::runtime_error(detail) {}
};

}  // namespace norv
