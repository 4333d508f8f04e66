#pragma once
// SearchView: the search window's content, top to bottom: the search row
// (field, clear button, settings button), the search-assist row, the toolbar,
// the filter panel (or, collapsed, its summary) and the results area. The
// field owns the typed text: a keystroke is one SearchSession::userTyped()
// call and the text is never written back while the user types; only a text
// set elsewhere (a chip, a history pick) reaches the field. Every button calls
// one session operation. It also focuses the field when asked,
// searches once when it first appears, presents the welcome sheet until it
// has been closed once, and takes Space and the arrow keys through a key
// monitor.
// GUI thread only.

#include <functional>
#include <memory>

#include <QPointer>
#include <QWidget>

class QLineEdit;
class QPropertyAnimation;
class QPushButton;
class QToolButton;

namespace pallix {

class ResultActions;
class SearchSession;
class SettingsOperations;
class FilterPanel;
class FilterSummaryRow;
class KeyDownMonitor;
class ResultsArea;
class SearchAssistRow;
class SearchKeyHandler;
class SearchToolbar;
class ThumbnailProvider;
class WelcomeSheet;

class SearchView : public QWidget {
    Q_OBJECT

public:
    // What the view reaches besides the session.
    struct Services {
        ResultActions& actions;
        SettingsOperations& settings;
        std::function<bool()> hasMountedRemovableVolumes;
        // Whether the welcome sheet has been closed once, and noting that it has.
        std::function<bool()> welcomeSheetDismissed;
        std::function<void()> markWelcomeSheetDismissed;
    };

    SearchView(SearchSession& session, Services services, ThumbnailProvider& thumbnails, QWidget* parent = nullptr);
    ~SearchView() override;

    QLineEdit* searchField() const { return m_field; }
    ResultsArea* resultsArea() const { return m_results; }
    SearchToolbar* toolbar() const { return m_toolbar; }
    SearchAssistRow* assistRow() const { return m_assistRow; }
    FilterPanel* filterPanel() const { return m_filterPanel; }
    FilterSummaryRow* filterSummary() const { return m_filterSummary; }
    // Open until it is closed; none before the first showing or once dismissed.
    WelcomeSheet* welcomeSheet() const;

    // Return in the field: the selection (else the first result) opens.
    void submit();

signals:
    // The settings button.
    void settingsRequested();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeSearchRow();
    void installZoomShortcuts();
    void userEdited(const QString& text);
    void clearSearch();
    void showModelText();
    void cancelRenameIfSelectionMoved();
    void updateExternalIndexingCTA();
    void setFilterPanelExpanded(bool expanded);
    void finishFilterPanelAnimation();
    void presentWelcomeSheetIfNeeded();

    SearchSession& m_session;
    Services m_services;
    QLineEdit* m_field = nullptr;
    QToolButton* m_clearButton = nullptr;
    QPushButton* m_settingsButton = nullptr;
    SearchAssistRow* m_assistRow = nullptr;
    SearchToolbar* m_toolbar = nullptr;
    FilterPanel* m_filterPanel = nullptr;
    QPropertyAnimation* m_filterAnimation = nullptr;
    FilterSummaryRow* m_filterSummary = nullptr;
    QPointer<WelcomeSheet> m_welcomeSheet;
    ResultsArea* m_results = nullptr;
    std::unique_ptr<SearchKeyHandler> m_keys;
    KeyDownMonitor* m_keyMonitor = nullptr;
    bool m_appeared = false;
};

} // namespace pallix
