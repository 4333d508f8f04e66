#pragma once
// A model on fakes for the results area's tests, and items to publish.

#include <string>

#include "App/ModelTestSupport.h"

#include "UI/Results/ResultsModel.h"

namespace pallix::testing_support {

struct ResultsFixture {
    ResultsFixture()
    {
        h.preventStartUp();
        h.start();
    }
    AppModel& model() { return *h.model; }
    void publishMain(const ItemList& items) { model().searchSession().applySearchResults(items, model().searchSession().currentQuerySnapshot()); }

    ModelHarness h;
};

// `count` files /r/<prefix><i>.<ext>.
inline ItemList numberedFiles(const std::string& prefix, int count, const std::string& ext = "txt")
{
    ItemList items;
    items.reserve(count);
    for (int i = 0; i < count; ++i)
        items.append(fileItem("/r/" + prefix + std::to_string(i) + "." + ext));
    return items;
}

inline QString pathOf(const IndexedItem& item) { return QString::fromUtf8(item.path()); }

} // namespace pallix::testing_support
