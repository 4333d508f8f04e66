// query: one search as the application runs it once the indexes are complete
// (SearchParser, then IndexStore::search); the result paths in order on stdout.

#include <cstdio>

#include "BenchSupport.h"
#include "Commands.h"

namespace pallix::bench {

int runQuery(const std::vector<std::string>& argv)
{
    const Args args(argv, {"db", "limit", "mode", "sort", "filter", "edition"}, {"case", "desc"});
    const std::optional<std::string> text = args.trailingText();
    if (!text)
        throw UsageError("query wants the search text after \"--\"");
    const std::filesystem::path db = args.required("db");
    const int limit = args.integer("limit", 10000, 1);
    const QueryOptions options = queryOptionsFrom(args);
    if (args.has("edition"))
        selectEdition(args.get("edition"));
    requireDatabase(db);

    const std::unique_ptr<IndexStore> store = openCompleteStore(db);
    const std::vector<IndexedItem> results = store->search(parseQuery(*text, options), limit);
    for (const IndexedItem& item : results) {
        std::fwrite(item.path().data(), 1, item.path().size(), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}

} // namespace pallix::bench
