#pragma once
// SearchWindowController: takes hold of the one search window: gives it its
// title and sizes once, makes closing it hide it (the window and everything
// it shows survive), and answers the show and toggle notifications. The
// search window is told apart by its role, a property this controller sets,
// never by its title: a folder window may well be titled "珀溪" too.
// GUI thread only.

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace pallix {

class SearchWindowController : public QObject {
    Q_OBJECT

public:
    explicit SearchWindowController(QObject* parent = nullptr);

    // Adopts `window`; may be called again with the same window, which then
    // keeps the size the user gave it.
    void configure(QWidget* window);
    QWidget* window() const { return m_window; }

    // The role mark; configure() sets it on the window it adopts.
    static void markSearchWindow(QWidget* window);
    static bool isSearchWindow(const QWidget* widget);

    // Brings the window forward, hiding any other search window, then asks
    // for the focus in the search field.
    void show();
    // A visible window hides; a hidden one shows.
    void toggle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void installObserversIfNeeded();
    void enforceSingleSearchWindow(QWidget* keep);

    QPointer<QWidget> m_window;
    bool m_didInstallObservers = false;
};

} // namespace pallix
