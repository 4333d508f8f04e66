#pragma once
// PreviewController: feeds the shared preview panel (the quick-look window)
// with a list of files and a starting position, so the same command opens and
// closes it. The model owns one; each folder browser owns its own; the panel
// shows the list of whichever controller set it last. GUI thread only.

#include <QList>
#include <QString>
#include <QUrl>

namespace pallix {

class PreviewController;

// The one preview panel of the process. Until the preview window exists there
// is no panel and the controllers keep their lists without showing them.
class PreviewPanel {
public:
    virtual ~PreviewPanel() = default;

    virtual bool isVisible() const = 0;
    // The controller whose list the panel shows, or none.
    virtual const PreviewController* source() const = 0;
    // Takes `source` as its data source, reloads, moves to `index`, comes to the front.
    virtual void present(PreviewController* source, int index) = 0;
    virtual void close() = 0;
    // `source` is going away (its folder browser window closed): a panel
    // that keeps it must let go of it. A panel that holds no pointer to its
    // source has nothing to do.
    virtual void sourceDestroyed(const PreviewController* source) { (void)source; }

    static PreviewPanel* shared();
    static void setShared(PreviewPanel* panel);  // not owned; nullptr removes it
};

class PreviewController {
public:
    PreviewController() = default;
    PreviewController(const PreviewController&) = delete;
    PreviewController& operator=(const PreviewController&) = delete;
    // Tells the panel when it still shows this controller's list.
    ~PreviewController();

    // Closes the panel when it is visible and shows this same list from this
    // controller (another controller's list is never closed); otherwise
    // remembers the list's signature and shows it at `selectedIndex`.
    void togglePreview(const QList<QUrl>& urls, int selectedIndex);
    // Shows the list at `selectedIndex` clamped into it; keeps the signature.
    void preview(const QList<QUrl>& urls, int selectedIndex);
    // preview(), but only while the panel is visible with this controller's
    // list: a list that arrives after the user closed the panel stays unshown.
    void replaceShown(const QList<QUrl>& urls, int selectedIndex);
    // Whether the panel is visible and its list, set by this controller, holds `url`.
    bool isShowing(const QUrl& url) const;
    void closePanel();

    // Data source of the panel.
    int count() const { return static_cast<int>(m_currentItems.size()); }
    const QList<QUrl>& items() const { return m_currentItems; }
    // The item at `index`, or an empty URL outside 0..count-1.
    QUrl itemAt(int index) const;
    int currentIndex() const { return m_currentIndex; }

    // The paths joined by U+001E; empty for an empty list.
    static QString signature(const QList<QUrl>& urls);

private:
    QList<QUrl> m_currentItems;
    int m_currentIndex = 0;
    QString m_lastSignature;  // of the list last toggled; compared only while the panel shows
};

} // namespace pallix
