#pragma once
// LimitStepper: the run-options stepper of the search-result limit. It shows
// "单次搜索结果上限：" with the stored limit and two buttons that ask for the
// limit 100 lower or higher, stopping at 200 and 10000. It keeps no value of
// its own. GUI thread.

#include <cstdint>
#include <functional>

#include <QLabel>
#include <QToolButton>
#include <QWidget>

namespace pallix {

class LimitStepper : public QWidget {
    Q_OBJECT

public:
    static constexpr std::int64_t kStep = 100;
    // The value one press of a button gives: `current` moved by `steps` steps,
    // held within the limit's range.
    static std::int64_t stepped(std::int64_t current, int steps);

    // `read` gives the stored limit; `write` is called with the new one.
    LimitStepper(std::function<std::int64_t()> read, std::function<void(std::int64_t)> write,
                 QWidget* parent = nullptr);

    // Shows the stored value again.
    void refresh();
    QLabel* textLabel() const { return m_text; }
    QToolButton* downButton() const { return m_down; }
    QToolButton* upButton() const { return m_up; }

private:
    void step(int steps);

    std::function<std::int64_t()> m_read;
    std::function<void(std::int64_t)> m_write;
    QLabel* m_text;
    QToolButton* m_down;
    QToolButton* m_up;
};

} // namespace pallix
