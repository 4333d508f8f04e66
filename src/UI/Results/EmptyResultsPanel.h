#pragma once
// EmptyResultsPanel: shown instead of the list or grid when nothing passes the
// content filters. It names the constraints in force (scope, content filters,
// operators typed into the search text, match mode), offers to clear the
// scope and to reset every constraint, and shows the external-disk offer
// while the search view supplies one. It reads the session and only emits.
// GUI thread only.

#include <optional>
#include <set>
#include <utility>
#include <vector>

#include <QString>
#include <QStringList>
#include <QWidget>

#include "Core/Search/SearchQuery.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace pallix {

class SearchSession;

class EmptyResultsPanel : public QWidget {
    Q_OBJECT

public:
    struct Offer {
        QString title;
        QString actionTitle;
    };
    // What the panel shows, derived from the session's query state.
    struct Constraints {
        QString scopedPath;
        std::set<SearchContentFilter> contentFilters;
        QString searchText;
        SearchMatchMode matchMode = SearchMatchMode::Contains;
        bool caseSensitive = false;
    };
    using Line = std::pair<QString, QString>;  // title, value

    explicit EmptyResultsPanel(SearchSession& session, QWidget* parent = nullptr);

    void setOffer(const std::optional<Offer>& offer);

    // "ext:…", "path:…", "type:…", "dm:…", "re:…" for each operator the
    // lower-cased text holds anywhere, in that order.
    static QStringList detectedTextConstraints(const QString& text);
    static std::vector<Line> constraintLines(const Constraints& c);
    static QString resetButtonTitle(const Constraints& c);

    // What is on screen, for the window's tests.
    const std::vector<Line>& lines() const { return m_lines; }
    QStringList buttonTitles() const;

    void setVisible(bool visible) override;

signals:
    void clearScopeRequested();
    void resetConstraintsRequested();
    void enableExternalIndexingRequested();

private:
    Constraints current() const;
    void rebuild();
    QWidget* lineWidget(const Line& line);

    SearchSession& m_session;
    std::optional<Offer> m_offer;
    std::vector<Line> m_lines;
    QWidget* m_dynamic = nullptr;  // the lines, buttons and offer, rebuilt on change
    bool m_widgetsStale = false;   // changed while hidden: rebuilt when shown
    QVBoxLayout* m_layout = nullptr;
};

} // namespace pallix
