#pragma once
// PreviewPanelWindow: the preview panel of the process, a top-level window
// of our own. It shows the item of the controller's list at the current
// position: an image, a video's first frame with its size and length, a
// PDF's first page, the first 64 KiB of a text file, else a large icon with
// name, size and date. ←/→ step through the list, Space or Esc close it.
// It keeps its own copy of the list it was given.
// Files are decoded on a worker thread; the newest request wins. Only
// regular files are read: a pipe, socket or device shows its type's icon
// and name ("命名管道"...). A load that outlasts its budget shows the file's
// icon and frees its thread. GUI thread only.

#include <atomic>
#include <memory>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "App/Preview/BoundedPool.h"
#include "App/Preview/PreviewController.h"

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace pallix {

class PreviewPanelWindow final : public QWidget, public PreviewPanel {
    Q_OBJECT

public:
    enum class Shown { Nothing, Loading, Picture, Text, Info, Count };

    // The largest side a picture is decoded at.
    static constexpr int kPictureSide = 1600;
    static constexpr qint64 kTextBytes = 64 * 1024;

    // `clock` times the loads' budget.
    explicit PreviewPanelWindow(QWidget* parent = nullptr, std::shared_ptr<Clock> clock = Clock::system());
    ~PreviewPanelWindow() override;

    bool isVisible() const override { return QWidget::isVisible(); }
    const PreviewController* source() const override { return m_source; }
    void present(PreviewController* source, int index) override;
    void close() override { hide(); }
    // The list stays, so ←/→ keep stepping through what is shown.
    void sourceDestroyed(const PreviewController* source) override;

    // What the window shows now, for whoever watches it (and the tests).
    Shown shown() const { return m_shown; }
    QString shownPath() const { return m_path; }
    QString shownText() const;
    QString shownDetails() const;
    QImage shownPicture() const { return m_picture; }
    int index() const { return m_index; }

signals:
    void contentShown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Content;
    static Content load(const QString& path);

    void showIndex(int index);
    void showContent(const Content& content);
    void fitPicture();

    const PreviewController* m_source = nullptr;
    // A copy of the source's list: the panel outlives the folder browser
    // windows whose controllers give it.
    QList<QUrl> m_items;
    int m_index = 0;
    quint64 m_generation = 0;  // of the newest load; older ones are dropped
    // m_generation for the loads' threads.
    std::shared_ptr<std::atomic<quint64>> m_newest = std::make_shared<std::atomic<quint64>>(0);
    Shown m_shown = Shown::Nothing;
    QString m_path;
    QImage m_picture;
    QStackedWidget* m_stack;
    QLabel* m_pictureLabel;
    QPlainTextEdit* m_text;
    QLabel* m_icon;
    QLabel* m_details;
    BoundedPool m_loads;
};

// Creates the process's panel once and registers it as the shared one.
void installPreviewPanel();

} // namespace pallix
