#pragma once

// Helpers of the settings window's tests: a started model on fakes and
// lookups of the controls a person would click, by their text.

#include <memory>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QWidget>

#include "App/ModelTestSupport.h"
#include "UI/Settings/SettingsView.h"
#include "UI/Settings/SettingsWindow.h"

namespace pallix::testing_support {

// Shows the rows that lists added (layouts show them on a queued call) and
// deletes the rows they replaced.
inline void processPendingUi()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The visible button of `root` titled `text`, or none.
inline QAbstractButton* buttonTitled(QWidget* root, const QString& text, int index = 0)
{
    processPendingUi();
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->text() == text && button->isVisibleTo(root) && index-- == 0)
            return button;
    }
    return nullptr;
}

inline int countButtonsTitled(QWidget* root, const QString& text)
{
    processPendingUi();
    int n = 0;
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        n += button->text() == text && button->isVisibleTo(root);
    return n;
}


// A model on fakes, started and settled, with the autostart folder in a
// temporary place so that no test writes the user's.
struct SettingsFixture : testing::Test {
    TempDir config;
    ScopedEnv configHome{"XDG_CONFIG_HOME", config.str()};
    ModelHarness h;
    std::unique_ptr<SettingsView> view;  // after the model: goes first

    void SetUp() override { startModel(); }
    void TearDown() override { view.reset(); }

    void startModel()
    {
        h.start();
        ASSERT_TRUE(h.settle());
    }
    // Stops the model and starts a new one on the same stored settings.
    void restart()
    {
        view.reset();
        h.stop();
        h.bootstrapEnded = false;
        startModel();
    }
    SettingsView& show(AppEdition edition = AppEdition::Mardell)
    {
        view = std::make_unique<SettingsView>(SettingsWindow::featuresOf(*h.model), edition);
        view->show();
        return *view;
    }
    AppModel& model() { return *h.model; }
    AppSettings reloaded() const { return SettingsStore(h.defaults).settings(); }
};

} // namespace pallix::testing_support
