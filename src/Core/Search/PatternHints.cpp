#include "Core/Search/PatternHints.h"

#include <optional>
#include <string>
#include <vector>

#include "Core/Search/ItemFacts.h"
#include "Platform/Text.h"

namespace pallix {

namespace {

std::uint64_t maskOfLiteral(char c)
{
    return text::isAsciiAlnum(c) ? ItemFacts::characterMask(std::string_view(&c, 1)) : 0;
}

// One element of an expression's top-level sequence.
struct Element {
    enum class Kind { Literal, Group, Other } kind = Kind::Other;
    char literal = 0;            // Kind::Literal
    std::uint64_t required = 0;  // characters every match of the element holds
    bool exactlyOnce = true;     // no quantifier
    // Kind::Group of plain alternatives: the last two characters they all
    // end with (lower-cased), or 0.
    char groupLast = 0;
    char groupSecondLast = 0;
};

// Reads an expression's top level; gives up (nullopt) on whatever it is not sure of.
class ExpressionReader {
public:
    explicit ExpressionReader(std::string_view p) : m_p(p) {}

    std::optional<PatternHints> read()
    {
        // Flags, comments and quoting change what the rest means.
        if (m_p.find("(?") != std::string_view::npos || m_p.find("\\Q") != std::string_view::npos)
            return std::nullopt;
        bool endAnchored = false;
        while (m_i < m_p.size()) {
            if (m_p[m_i] == '$' && m_i + 1 == m_p.size()) {
                endAnchored = true;
                ++m_i;
                break;
            }
            std::optional<Element> e = element();
            if (!e || !quantifier(*e))
                return std::nullopt;
            m_elements.push_back(*e);
        }
        PatternHints hints;
        for (const Element& e : m_elements)
            if (e.kind != Element::Kind::Other && (e.exactlyOnce || e.required != 0))
                hints.requiredCharacters |= e.required;
        const auto plainLiteral = [&](std::size_t fromEnd) -> const Element* {
            if (m_elements.size() < fromEnd)
                return nullptr;
            const Element& e = m_elements[m_elements.size() - fromEnd];
            return e.kind == Element::Kind::Literal && e.exactlyOnce ? &e : nullptr;
        };
        if (endAnchored) {
            if (const Element* last = plainLiteral(1)) {
                hints.lastByte = text::asciiLower(last->literal);
                if (const Element* second = plainLiteral(2))
                    hints.secondLastByte = text::asciiLower(second->literal);
            } else if (!m_elements.empty() && m_elements.back().kind == Element::Kind::Group &&
                       m_elements.back().exactlyOnce) {
                hints.lastByte = m_elements.back().groupLast;
                hints.secondLastByte = hints.lastByte ? m_elements.back().groupSecondLast : 0;
            }
        }
        return hints;
    }

private:
    std::optional<Element> element()
    {
        const char c = m_p[m_i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            ++m_i;
            while (m_i < m_p.size() && (static_cast<unsigned char>(m_p[m_i]) & 0xC0) == 0x80)
                ++m_i;
            return Element{};
        }
        switch (c) {
        case '\\': return escape();
        case '[': return characterClass();
        case '(': return group();
        case '.':
        case '^':
        case '$':
            ++m_i;
            return Element{};
        case ')':
        case '|':
        case '*':
        case '+':
        case '?':
        case '{':
        case '}':
        case ']':
            return std::nullopt;
        default:
            ++m_i;
            return literal(c);
        }
    }

    static Element literal(char c)
    {
        Element e;
        e.kind = Element::Kind::Literal;
        e.literal = c;
        e.required = maskOfLiteral(text::asciiLower(c));
        return e;
    }

    std::optional<Element> escape()
    {
        if (m_i + 1 >= m_p.size())
            return std::nullopt;
        const char d = m_p[m_i + 1];
        if (static_cast<unsigned char>(d) >= 0x80)
            return std::nullopt;
        m_i += 2;
        if (!text::isAsciiAlnum(d))
            return literal(d);
        // Classes and zero-width assertions of one letter; anything longer
        // (hex, code points, names, properties, back references) is not read.
        if (std::string_view("dDwWsSbBAzZGhHvVRX").find(d) != std::string_view::npos)
            return Element{};
        return std::nullopt;
    }

    std::optional<Element> characterClass()
    {
        std::size_t j = m_i + 1;
        if (j < m_p.size() && m_p[j] == '^')
            ++j;
        if (j < m_p.size() && m_p[j] == ']')
            return std::nullopt;
        j = m_i;
        if (!skipClassFrom(j))
            return std::nullopt;
        m_i = j + 1;
        return Element{};
    }

    // A group of plain alternatives, "(docx|xlsx)", needs the letters common
    // to all of them; any other group needs nothing that is read here.
    std::optional<Element> group()
    {
        std::size_t j = m_i + 1;
        int depth = 1;
        bool plain = true;
        std::vector<std::uint64_t> alternatives{0};
        std::vector<std::string> texts{std::string()};  // each plain alternative, lower-cased
        for (; j < m_p.size(); ++j) {
            const char c = m_p[j];
            if (c == '\\') {
                if (j + 1 >= m_p.size())
                    return std::nullopt;
                if (text::isAsciiAlnum(m_p[j + 1]) || static_cast<unsigned char>(m_p[j + 1]) >= 0x80)
                    plain = false;
                else
                    texts.back() += m_p[j + 1];
                ++j;
            } else if (c == '[') {
                plain = false;
                if (!skipClassFrom(j))
                    return std::nullopt;
            } else if (c == '(') {
                plain = false;
                ++depth;
            } else if (c == ')') {
                if (--depth == 0)
                    break;
            } else if (c == '|' && depth == 1) {
                alternatives.push_back(0);
                texts.emplace_back();
            } else if (std::string_view(".^$*+?{}").find(c) != std::string_view::npos ||
                       static_cast<unsigned char>(c) >= 0x80) {
                plain = false;
            } else if (depth == 1) {
                alternatives.back() |= maskOfLiteral(text::asciiLower(c));
                texts.back() += text::asciiLower(c);
            }
        }
        if (j >= m_p.size())
            return std::nullopt;
        m_i = j + 1;
        Element e;
        e.kind = Element::Kind::Group;
        if (plain) {
            e.required = ~std::uint64_t(0);
            for (std::uint64_t a : alternatives)
                e.required &= a;
            const auto common = [&](std::size_t fromEnd) -> char {
                const char first = texts.front().size() >= fromEnd ? texts.front()[texts.front().size() - fromEnd] : 0;
                for (const std::string& t : texts)
                    if (t.size() < fromEnd || t[t.size() - fromEnd] != first)
                        return 0;
                return first;
            };
            e.groupLast = common(1);
            e.groupSecondLast = common(2);
        }
        return e;
    }

    bool skipClassFrom(std::size_t& j) const
    {
        int depth = 0;
        for (; j < m_p.size(); ++j) {
            if (m_p[j] == '\\')
                ++j;
            else if (m_p[j] == '[')
                ++depth;
            else if (m_p[j] == ']' && --depth == 0)
                return true;
        }
        return false;
    }

    // Reads a quantifier after `e`, if any; false on one that is not read.
    bool quantifier(Element& e)
    {
        if (m_i >= m_p.size())
            return true;
        const char c = m_p[m_i];
        bool optional;
        if (c == '*' || c == '?') {
            optional = true;
            ++m_i;
        } else if (c == '+') {
            optional = false;
            ++m_i;
        } else if (c == '{') {
            std::size_t j = m_i + 1;
            std::size_t least = 0;
            bool digits = false;
            for (; j < m_p.size() && m_p[j] >= '0' && m_p[j] <= '9'; ++j, digits = true)
                least = std::min<std::size_t>(least * 10 + std::size_t(m_p[j] - '0'), 1000000);
            while (j < m_p.size() && (m_p[j] == ',' || (m_p[j] >= '0' && m_p[j] <= '9')))
                ++j;
            if (!digits || j >= m_p.size() || m_p[j] != '}')
                return false;
            optional = least == 0;
            m_i = j + 1;
        } else {
            return true;
        }
        e.exactlyOnce = false;
        if (optional)
            e.required = 0;
        // Lazy and possessive forms mean the same here.
        if (m_i < m_p.size() && (m_p[m_i] == '?' || m_p[m_i] == '+'))
            ++m_i;
        if (m_i < m_p.size() && std::string_view("*+?{").find(m_p[m_i]) != std::string_view::npos)
            return false;
        return true;
    }

    std::string_view m_p;
    std::size_t m_i = 0;
    std::vector<Element> m_elements;
};

} // namespace

PatternHints PatternHints::ofWildcard(std::string_view pattern)
{
    PatternHints hints;
    for (char c : pattern)
        if (c != '*' && c != '?')
            hints.requiredCharacters |= maskOfLiteral(text::asciiLower(c));
    const auto literalAt = [&](std::size_t fromEnd) {
        return pattern.size() >= fromEnd && pattern[pattern.size() - fromEnd] != '*' &&
               pattern[pattern.size() - fromEnd] != '?';
    };
    if (literalAt(1)) {
        hints.lastByte = text::asciiLower(pattern.back());
        if (literalAt(2))
            hints.secondLastByte = text::asciiLower(pattern[pattern.size() - 2]);
    }
    return hints;
}

PatternHints PatternHints::ofExpression(std::string_view pattern)
{
    return ExpressionReader(pattern).read().value_or(PatternHints{});
}

} // namespace pallix
