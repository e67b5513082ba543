// ICU: full case folding, then canonical decomposition without the non-spacing marks, then composition.
#include "KestruneCore/Model/TextFolding.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

namespace TextFolding {

namespace {

bool isUtf8(std::string_view text) {
    std::int32_t i = 0;
    const auto length = static_cast<std::int32_t>(text.size());
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(text.data(), i, length, c);
        if (c < 0) {
            return false;
        }
    }
    return true;
}

std::string asciiFolded(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

std::string folded(std::string_view text) {
    if (!isUtf8(text)) {
        return asciiFolded(text);
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) {
        return asciiFolded(text);
    }
    icu::UnicodeString source =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
    source.foldCase();
    const icu::UnicodeString decomposed = nfd->normalize(source, status);
    icu::UnicodeString bare;
    for (std::int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) {
            bare.append(c);
        }
        i += U16_LENGTH(c);
    }
    const icu::UnicodeString composed = nfc->normalize(bare, status);
    if (U_FAILURE(status)) {
        return asciiFolded(text);
    }
    std::string out;
    composed.toUTF8String(out);
    return out;
}

} // namespace TextFolding
