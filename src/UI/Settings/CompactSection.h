#pragma once
// CompactSection: one titled group of the settings window, a rounded card
// holding a headline title and the group's controls below it. GUI thread.

#include <QString>
#include <QVBoxLayout>
#include <QWidget>

namespace pallix {

class CompactSection : public QWidget {
    Q_OBJECT

public:
    explicit CompactSection(const QString& title, QWidget* parent = nullptr);

    const QString& title() const { return m_title; }
    // Where the section's controls go, top to bottom.
    QVBoxLayout* contentLayout() const { return m_content; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
    QVBoxLayout* m_content;
};

} // namespace pallix
