#pragma once
// The two folder lists of the settings window. CompactPathList shows paths
// read-only, one line each; RemovablePathList shows each path on up to two
// lines with a trash button and a context menu that both ask to remove that
// row's position. Both show their empty text in a card when there is no path.
// They keep no selection: the owner passes the current paths after every
// change. GUI thread.

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

namespace pallix {

// The record's path or term list as texts.
QStringList toQStringList(const std::vector<std::string>& list);
// Takes every row out of `rows`, hidden at once and deleted later: the
// change may come from a button of a row being replaced.
void clearRowsLater(QLayout* rows);

// Base of both lists: rebuilds its rows when the paths change.
class PathListBase : public QWidget {
    Q_OBJECT

public:
    const QStringList& paths() const { return m_paths; }
    void setPaths(const QStringList& paths);

protected:
    PathListBase(const QString& emptyText, QWidget* parent);
    // One row for the path at `offset`.
    virtual QWidget* makeRow(const QString& path, int offset) = 0;

private:
    void rebuild();

    QString m_emptyText;
    QStringList m_paths;
    QVBoxLayout* m_rows;
    bool m_built = false;
};

class CompactPathList final : public PathListBase {
    Q_OBJECT

public:
    explicit CompactPathList(const QString& emptyText, QWidget* parent = nullptr);

protected:
    QWidget* makeRow(const QString& path, int offset) override;
};

class RemovablePathList final : public PathListBase {
    Q_OBJECT

public:
    // `onRemove` gets the one-element set of the row's position.
    RemovablePathList(const QString& emptyText, const QString& removeTitle,
                      std::function<void(const std::set<int>&)> onRemove, QWidget* parent = nullptr);

protected:
    QWidget* makeRow(const QString& path, int offset) override;

private:
    QString m_removeTitle;
    std::function<void(const std::set<int>&)> m_onRemove;
};

// A rounded row card holding a path; shared with the rows of other lists.
class PathRowCard : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pallix
