#pragma once

#include <string>
#include <string_view>

namespace norv::text_rules {

// `text` without leading and trailing white space and line breaks (Unicode spaces included).
std::string_view trimmed(std::string_view text);

// Full Unicode case mapping of UTF-8 text. Lower-casing is locale-independent (it serves
// comparisons with fixed words); upper-casing follows the user's locale ("überpage" gives
// "ÜBERPAGE", in Turkish "i" gives "İ").
std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// Whether `text` contains `query` as one contiguous piece, ignoring letter case under the
// user's locale; canonically equivalent spellings (composed or decomposed accents) match.
bool containsIgnoringCase(std::string_view text, std::string_view query);

// Whether two texts are canonically equivalent (NFC and NFD spellings of one name are equal).
bool canonicallyEqual(std::string_view a, std::string_view b);

// The NFC form of `text`: canonically equivalent texts give the same key.
std::string canonicalKey(std::string_view text);

// `value` in decimal with exactly `decimals` digits after the point, rounded as "%.Nf" rounds, with
// a point whatever the process locale is ("5.2", never "5,2").
std::string fixedDecimal(double value, int decimals);

// The English description of an errno value, whatever the process locale is ("Broken pipe").
std::string errorText(int error);

// Symbol image name for a device platform: "ipad" for iOS, "rectangle.portrait" for Android,
// "display" otherwise.
std::string platformSymbol(std::string_view platform);

}  // namespace norv::text_rules
