#pragma once

#include <stdexcept>
#include <string>

namespace norv {

// A start-up failure: a domain and a code, with an explicit description or one made from both.
class HelperError : public std::runtime_error {
public:
    HelperError(std::string domain, int code, std::string description = {})
        : std::runtime_error(description.empty() ? domain + " error " + std::to_string(code)
                                                 : description),
          domain_(std::move(domain)),
          code_(code) {}

    const std::string& domain() const { return domain_; }
    int code() const { return code_; }

private:
    std::string domain_;
    int code_;
};

}  // namespace norv
