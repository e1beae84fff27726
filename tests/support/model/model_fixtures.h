#pragma once

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace norv::test {

// A JSON fixture from tests/fixtures/model/.
inline nlohmann::json loadModelFixture(const std::string& name) {
    std::ifstream in(std::string(NORV_FIXTURES_DIR) + "/model/" + name);
    if (!in) throw std::runtime_error("missing fixture " + name);
    std::stringstream text;
    text << in.rdbuf();
    return nlohmann::json::parse(text.str());
}

}  // namespace norv::test
