#include "App/Paths/ShownNames.h"

#include <algorithm>
#include <array>

#include "App/Paths/SystemPaths.h"

namespace pallix::shownnames {

namespace {

// The Unicode abbreviations of the C0 controls, by code.
constexpr std::array<const char*, 32> kControlNames{
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
    "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

// The abbreviation of a character drawn as a mark, or null for one drawn as itself.
const char* abbreviation(char16_t c)
{
    if (c < 0x20)
        return kControlNames[c];
    switch (c) {
    case 0x7F: return "DEL";
    // Every character of the Bidi_Control property.
    case 0x061C: return "ALM";
    case 0x200E: return "LRM";
    case 0x200F: return "RLM";
    case 0x202A: return "LRE";
    case 0x202B: return "RLE";
    case 0x202C: return "PDF";
    case 0x202D: return "LRO";
    case 0x202E: return "RLO";
    case 0x2066: return "LRI";
    case 0x2067: return "RLI";
    case 0x2068: return "FSI";
    case 0x2069: return "PDI";
    // Qt's layout breaks the line at these, as at a line feed.
    case 0x2028: return "LS";
    case 0x2029: return "PS";
    default: return nullptr;
    }
}

// The C1 controls have no abbreviation a reader knows; their code stands for them.
bool isC1Control(char16_t c) { return c >= 0x80 && c <= 0x9F; }

bool isMarked(char16_t c) { return abbreviation(c) || isC1Control(c); }

QString mark(char16_t c)
{
    const QString code = isC1Control(c) ? QStringLiteral("U+%1").arg(int(c), 4, 16, QLatin1Char('0')).toUpper()
                                        : QString::fromLatin1(abbreviation(c));
    return QChar(u'⟨') + code + QChar(u'⟩');
}

} // namespace

QString marked(const QString& text)
{
    // Most names hold none: they are handed back without a copy.
    const auto first = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return isMarked(c.unicode()); });
    if (first == text.cend())
        return text;
    QString out = text.left(first - text.cbegin());
    out.reserve(text.size() + 8);
    for (auto it = first; it != text.cend(); ++it) {
        if (isMarked(it->unicode()))
            out += mark(it->unicode());
        else
            out += *it;
    }
    return out;
}

QString shown(const QString& stored) { return marked(systempaths::display(stored)); }
QString shown(std::string_view stored) { return marked(systempaths::display(stored)); }

} // namespace pallix::shownnames
