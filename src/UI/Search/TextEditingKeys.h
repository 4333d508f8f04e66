#pragma once
// TextEditingKeys: a focused text field keeps its editing keys, and a label
// whose text can be selected keeps copying and selecting, whatever window
// shortcut uses the same keys (Ctrl+Backspace deletes the previous word, it
// does not move the selected result to the trash). An event filter on the
// application that accepts the shortcut override of such a key, so the key
// reaches the widget; installed for the object's lifetime. GUI thread only.

#include <QObject>

class QKeyEvent;
class QWidget;

namespace pallix {

class TextEditingKeys : public QObject {
    Q_OBJECT

public:
    explicit TextEditingKeys(QObject* parent = nullptr);
    ~TextEditingKeys() override;

    // True when `widget`, holding the focus, uses the pressed key itself.
    static bool keeps(const QWidget* widget, const QKeyEvent& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace pallix
