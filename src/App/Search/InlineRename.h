#pragma once
// InlineRename: the result being renamed in place and the name typed so far.
// Owned by the search session; ResultActions starts, commits and cancels it,
// the results area shows the field on the target and writes the draft back.
// GUI thread only.

#include <QObject>
#include <QString>

namespace pallix {

class InlineRename : public QObject {
    Q_OBJECT

    // Each property announces changes only.
    Q_PROPERTY(QString targetID READ targetID WRITE setTargetID NOTIFY targetIDChanged)
    Q_PROPERTY(QString draft READ draft WRITE setDraft NOTIFY draftChanged)

public:
    explicit InlineRename(QObject* parent = nullptr) : QObject(parent) {}

    // The path of the result being renamed; empty when none is.
    const QString& targetID() const { return m_targetID; }
    void setTargetID(const QString& id);
    const QString& draft() const { return m_draft; }
    void setDraft(const QString& draft);

signals:
    void targetIDChanged();
    void draftChanged();

private:
    QString m_targetID;
    QString m_draft;
};

} // namespace pallix
