// Names drawn in the order they are stored: every character that would draw
// nothing, break the line or turn the order of what follows stands as a
// visible mark, and every other character as itself.

#include "App/Paths/ShownNames.h"

#include <gtest/gtest.h>

#include "Platform/FileNames.h"

namespace pallix {
namespace {

struct Case {
    const char* what;
    QString name;
    QString shown;
};

TEST(ShownNames, MarksEachDisguisingCharacterWhereItStands)
{
    const QString same;  // shown as stored
    const Case cases[] = {
        // Ordinary names, brackets a name commonly holds included.
        {"CJK, spaces, brackets", QStringLiteral("报告 <a> 〈书名〉[1].txt"), same},
        {"Hebrew letters and emoji", QStringLiteral("שלום 😀.txt"), same},
        {"joiners and soft hyphens", QStringLiteral("a\u200Db\u00ADc"), same},
        // Each kind of bidirectional control, a line break, other controls.
        {"override", QStringLiteral("invoice\u202Etxt.exe"), QStringLiteral("invoice⟨RLO⟩txt.exe")},
        {"isolate", QStringLiteral("a\u2068b\u2069"), QStringLiteral("a⟨FSI⟩b⟨PDI⟩")},
        {"marks", QStringLiteral("\u200E\u200F\u061C"), QStringLiteral("⟨LRM⟩⟨RLM⟩⟨ALM⟩")},
        {"line feed", QStringLiteral("第一行\n第二行.txt"), QStringLiteral("第一行⟨LF⟩第二行.txt")},
        {"C0 ends and DEL", QString(QChar(0x01)) + QChar(0x1F) + QChar(0x7F), QStringLiteral("⟨SOH⟩⟨US⟩⟨DEL⟩")},
        {"C1 by code", QStringLiteral("a\u0085b\u009F"), QStringLiteral("a⟨U+0085⟩b⟨U+009F⟩")},
        {"separators", QStringLiteral("a\u2028b\u2029"), QStringLiteral("a⟨LS⟩b⟨PS⟩")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(shownnames::marked(c.name), c.shown.isNull() ? c.name : c.shown);
    }
}

// Qt's character tables are the rule: a control, a line or paragraph
// separator, or a character of the bidirectional controls is marked; any
// other character is drawn as itself, and no mark holds a disguising one.
TEST(ShownNames, AgreesWithTheCharacterTablesOverTheBasicPlane)
{
    const auto disguises = [](char16_t code) {
        const QChar c(code);
        switch (c.direction()) {
        case QChar::DirLRE: case QChar::DirLRO: case QChar::DirRLE: case QChar::DirRLO: case QChar::DirPDF:
        case QChar::DirLRI: case QChar::DirRLI: case QChar::DirFSI: case QChar::DirPDI: return true;
        default: break;
        }
        return c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line
               || c.category() == QChar::Separator_Paragraph || code == 0x200E || code == 0x200F || code == 0x061C;
    };
    int marked = 0;
    for (char32_t code = 0; code <= 0xFFFF; ++code) {
        if (QChar::isSurrogate(code))
            continue;
        const QString name = u'a' + QChar(char16_t(code)) + u'b';
        const QString shown = shownnames::marked(name);
        if (!disguises(char16_t(code))) {
            EXPECT_EQ(shown, name) << "U+" << std::hex << unsigned(code) << " should be drawn as itself";
            continue;
        }
        ++marked;
        EXPECT_TRUE(shown.startsWith(u"a⟨") && shown.endsWith(u"⟩b")) << "U+" << std::hex << unsigned(code);
        for (QChar c : shown)
            EXPECT_FALSE(disguises(c.unicode())) << "the mark of U+" << std::hex << unsigned(code);
    }
    EXPECT_EQ(marked, 32 + 1 + 32 + 2 + 12);  // C0, DEL, C1, LS and PS, the bidirectional controls
}

// A stored name that is not UTF-8 reads with U+FFFD for its byte, as
// everywhere, and is marked too.
TEST(ShownNames, AStoredNameIsShownFromItsDisplayForm)
{
    const std::string stored = filenames::fromFileSystem("/r/\xB9\xE2\x80\xAEtxt.exe");
    ASSERT_NE(stored, "/r/\xB9\xE2\x80\xAEtxt.exe");
    const QString expected = QStringLiteral("/r/\uFFFD⟨RLO⟩txt.exe");
    EXPECT_EQ(shownnames::shown(std::string_view(stored)), expected);
    EXPECT_EQ(shownnames::shown(QString::fromStdString(stored)), expected);
}

} // namespace
} // namespace pallix
