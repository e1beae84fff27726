#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace norv {

// The application's state machines share one form: a phase enum, events and actions as structs
// gathered in a std::variant, one handle(event) that returns the actions, and the transition
// table written above the class. Every event and action struct names itself for the log with a
// `static constexpr std::string_view kName`; nameOf() reads the name of the alternative a variant
// holds.
template <typename... Alternatives>
constexpr std::string_view nameOf(const std::variant<Alternatives...>& value) {
    return std::visit(
        [](const auto& alternative) -> std::string_view {
            return std::decay_t<decltype(alternative)>::kName;
        },
        value);
}

// True when every alternative of the variant has a name of its own, so a log line names the one
// event or action it means; each machine checks its variants with a static_assert.
template <typename Variant>
constexpr bool namesAreDistinct() {
    return []<std::size_t... I>(std::index_sequence<I...>) {
        constexpr std::string_view names[] = {std::variant_alternative_t<I, Variant>::kName...};
        for (std::size_t a = 0; a < sizeof...(I); ++a) {
            if (names[a].empty()) return false;
            for (std::size_t b = a + 1; b < sizeof...(I); ++b)
                if (names[a] == names[b]) return false;
        }
        return true;
    }(std::make_index_sequence<std::variant_size_v<Variant>>{});
}

}  // namespace norv
