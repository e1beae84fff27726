#pragma once
// A user's locale for the span of a test: the process locale, as the application sets it at start
// from LANG, and as printf, strtod and strerror follow it. The suite runs in whatever locale the
// user has, so a test that needs a given one sets it here and skips where it is not generated.

#include <clocale>
#include <string>

namespace norv::test {

class UserLocale {
public:
    explicit UserLocale(const char* name) {
        if (const char* current = std::setlocale(LC_ALL, nullptr)) previous_ = current;
        available_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~UserLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    UserLocale(const UserLocale&) = delete;
    UserLocale& operator=(const UserLocale&) = delete;

    bool available() const { return available_; }

private:
    std::string previous_ = "C";
    bool available_ = false;
};

// The skip message of a test whose locale is missing.
inline std::string localeMissing(const char* name) {
    return std::string(name) +
           " is not generated on this machine (scripts/install-deps.sh generates de_DE.UTF-8)";
}

}  // namespace norv::test
