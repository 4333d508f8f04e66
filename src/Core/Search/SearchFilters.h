#pragma once
// The attribute filters of a prepared query and its pattern tests, on one
// candidate. Pure; any thread (per-thread scratch buffers, see ItemForms.h).

#include "Core/Models/IndexedItem.h"
#include "Core/Search/PreparedQuery.h"

namespace pallix {

// Type, extension, content categories, parent folder text and date, cheapest first.
bool passesAttributeFilters(const ItemRef& item, const PreparedQuery& query);
// The system-and-junk rule, when the query asks for it. Kept apart from the
// attribute filters so the scoring loop can run it last, on the few candidates
// that matched; every filter must pass, so the order changes no answer.
bool passesJunkFilter(const ItemRef& item, const PreparedQuery& query);
// Both of the above.
bool passesFilters(const ItemRef& item, const PreparedQuery& query);

bool matchesContentMask(const ItemRef& item, unsigned contentMask);

// The whole name (NFC) matches the compiled wildcard expression.
bool matchesWildcard(const ItemRef& item, const text::Regex& wildcard, text::RegexWatch* watch = nullptr);
// The same answer as matchesWildcard, without the expression engine, for an
// ASCII `pattern` ("*" any run, "?" one character, the rest literal) and a
// name whose facts say PlainName: its only characters that can equal a
// pattern character, ignoring case or not, are its ASCII ones, and none of
// them ends a line, which is all the expression's "." and "$" care about.
bool matchesPlainWildcard(std::string_view name, std::string_view pattern, bool caseSensitive);
// Every token expression finds a match somewhere in the name (NFC).
bool matchesAllExpressions(const ItemRef& item, const std::vector<text::Regex>& expressions,
                           text::RegexWatch* watch = nullptr);

} // namespace pallix
