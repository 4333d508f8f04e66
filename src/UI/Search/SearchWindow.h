#pragma once
// SearchWindow: the main window that hosts the search view, its menus (the
// File menu's "聚焦搜索框" and "重建索引", the "结果" menu) and the status
// line of the model's messages. Size, title, close-to-hide and showing are
// the SearchWindowController's. Faults the user must see stand in a bar of
// their own above the status line (FaultNoticeBar). GUI thread only.

#include <QMainWindow>

class QLabel;

namespace pallix {

class AppModel;
class FaultNoticeBar;
class ResultsMenu;
class SearchView;
class ThumbnailProvider;

class SearchWindow : public QMainWindow {
    Q_OBJECT

public:
    SearchWindow(AppModel& model, ThumbnailProvider& thumbnails, QWidget* parent = nullptr);

    SearchView* searchView() const { return m_view; }
    ResultsMenu* resultsMenu() const { return m_resultsMenu; }
    FaultNoticeBar* noticeBar() const { return m_noticeBar; }
    QLabel* statusLine() const { return m_statusLine; }

private:
    void buildFileMenu();

    AppModel& m_model;
    SearchView* m_view = nullptr;
    ResultsMenu* m_resultsMenu = nullptr;
    QLabel* m_statusLine = nullptr;
    FaultNoticeBar* m_noticeBar = nullptr;
};

} // namespace pallix
