#include "model/text_rules.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace norv::text_rules {

namespace {

// Unicode white space and line breaks.
bool isSpaceCodePoint(std::uint32_t cp) {
    constexpr std::uint32_t kSingles[] = {0x20,   0x85,   0xA0,   0x1680, 0x2028,
                                          0x2029, 0x202F, 0x205F, 0x3000};
    if ((cp >= 0x09 && cp <= 0x0D) || (cp >= 0x2000 && cp <= 0x200A)) return true;
    return std::find(std::begin(kSingles), std::end(kSingles), cp) != std::end(kSingles);
}

// Decodes the UTF-8 sequence starting at `pos`; returns its length, 0 when malformed.
std::size_t decodeAt(std::string_view s, std::size_t pos, std::uint32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    std::size_t len = b0 < 0x80           ? 1
                      : (b0 >> 5) == 0x6  ? 2
                      : (b0 >> 4) == 0xE  ? 3
                      : (b0 >> 3) == 0x1E ? 4
                                          : 0;
    if (len == 0 || pos + len > s.size()) return 0;
    cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (std::size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(s[pos + i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    return len;
}

// Length of the space character ending at `end` (exclusive), 0 when there is none.
std::size_t spaceBefore(std::string_view s, std::size_t end) {
    for (std::size_t len = 1; len <= 4 && len <= end; ++len) {
        const auto b = static_cast<unsigned char>(s[end - len]);
        if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
        std::uint32_t cp = 0;
        return decodeAt(s, end - len, cp) == len && isSpaceCodePoint(cp) ? len : 0;
    }
    return 0;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Malformed UTF-8 becomes U+FFFD, as everywhere else texts are shown.
icu::UnicodeString unicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
}

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

const icu::Normalizer2& nfc() {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* normalizer = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || normalizer == nullptr) std::abort();  // ICU's data is missing
    return *normalizer;
}

icu::UnicodeString normalized(const icu::UnicodeString& text) {
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString result = nfc().normalize(text, status);
    return U_SUCCESS(status) ? result : text;
}

// Turkic languages fold the dotted and dotless i their own way.
bool turkicLocale() {
    const std::string_view language = icu::Locale::getDefault().getLanguage();
    return language == "tr" || language == "az";
}

// Case-folded NFC text for caseless comparison.
icu::UnicodeString folded(std::string_view text, bool turkic) {
    icu::UnicodeString value = unicode(text);
    value.foldCase(turkic ? U_FOLD_CASE_EXCLUDE_SPECIAL_I : U_FOLD_CASE_DEFAULT);
    return normalized(value);
}

// Whether an ASCII query can be looked for in `text` byte by byte: every other character in it
// is well-formed, keeps its form under case folding and never combines with its neighbours.
// (Note names and separators such as "♯" and "·" are; "ß", "é" or a combining accent are not.)
bool onlyInertBeyondAscii(std::string_view text) {
    const icu::Normalizer2& normalizer = nfc();
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t len = decodeAt(text, pos, cp);
        if (len == 0 ||
            u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_CHANGES_WHEN_CASEFOLDED) ||
            !normalizer.isInert(static_cast<UChar32>(cp)))
            return false;
        pos += len;
    }
    return true;
}

bool containsAsciiIgnoringCase(std::string_view text, std::string_view query) {
    const auto it = std::search(text.begin(), text.end(), query.begin(), query.end(),
                                [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
    return it != text.end();
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::uint32_t cp = 0;
        const std::size_t len = decodeAt(text, begin, cp);
        if (len == 0 || !isSpaceCodePoint(cp)) break;
        begin += len;
    }
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t len = spaceBefore(text, end);
        if (len == 0) break;
        end -= len;
    }
    return text.substr(begin, end - begin);
}

std::string lowercased(std::string_view text) {
    if (isAscii(text)) {
        std::string out(text);
        for (char& c : out) c = lowerAscii(c);
        return out;
    }
    return utf8(unicode(text).toLower(icu::Locale::getRoot()));
}

std::string uppercased(std::string_view text) {
    return utf8(unicode(text).toUpper(icu::Locale::getDefault()));
}

bool containsIgnoringCase(std::string_view text, std::string_view query) {
    if (query.empty()) return true;
    const bool turkic = turkicLocale();
    if (!turkic && isAscii(query) && onlyInertBeyondAscii(text))
        return containsAsciiIgnoringCase(text, query);
    // One search text is matched against many events: its folded form is kept.
    thread_local std::string lastQuery;
    thread_local bool lastTurkic = false;
    thread_local icu::UnicodeString needle;
    if (query != lastQuery || turkic != lastTurkic || needle.isEmpty()) {
        lastQuery.assign(query);
        lastTurkic = turkic;
        needle = folded(query, turkic);
    }
    const icu::UnicodeString haystack = folded(text, turkic);
    // A match may not end inside a character: no combining mark may follow it.
    for (std::int32_t at = haystack.indexOf(needle); at >= 0;
         at = haystack.indexOf(needle, at + 1)) {
        const std::int32_t end = at + needle.length();
        if (end >= haystack.length() || u_getCombiningClass(haystack.char32At(end)) == 0)
            return true;
    }
    return false;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    return normalized(unicode(a)) == normalized(unicode(b));
}

std::string canonicalKey(std::string_view text) {
    if (isAscii(text)) return std::string(text);
    return utf8(normalized(unicode(text)));
}

std::string platformSymbol(std::string_view platform) {
    const std::string lower = lowercased(platform);
    if (lower.find("ios") != std::string::npos) return "ipad";
    if (lower.find("android") != std::string::npos) return "rectangle.portrait";
    return "display";
}

std::string fixedDecimal(double value, int decimals) {
    char buffer[400];  // the longest double in fixed notation has 309 digits before the point
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc{}) return {};  // only for an absurd number of decimals
    return std::string(buffer, result.ptr);
}

std::string errorText(int error) {
    // strerror follows LC_MESSAGES once the application has set the user's locale.
    if (const char* description = strerrordesc_np(error)) return description;
    return "Unknown error " + std::to_string(error);
}

}  // namespace norv::text_rules
