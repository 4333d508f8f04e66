#include "App/Preview/FileManagerOrder.h"

#include <unicode/coll.h>
#include <unicode/unistr.h>

namespace pallix {

int compareFileNames(std::string_view a, std::string_view b)
{
    // Comparing on one shared, fully set up collator is thread-safe in ICU.
    static const icu::Collator* collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        icu::Collator* c = icu::Collator::createInstance(icu::Locale::getDefault(), status);
        if (U_FAILURE(status) || !c)
            return static_cast<icu::Collator*>(nullptr);
        c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        c->setStrength(icu::Collator::SECONDARY);
        return c;
    }();
    if (!collator)
        return a.compare(b);
    UErrorCode status = U_ZERO_ERROR;
    return collator->compare(icu::UnicodeString::fromUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size()))),
                             icu::UnicodeString::fromUTF8(icu::StringPiece(b.data(), static_cast<int32_t>(b.size()))),
                             status);
}

} // namespace pallix
