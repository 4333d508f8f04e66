#include "UI/Settings/BoundToggle.h"

#include <QSignalBlocker>

#include "App/Settings/SettingsOperations.h"

namespace pallix {

QCheckBox* boundToggle(SettingsOperations& settings, const QString& text, std::function<bool(const AppSettings&)> read,
                       std::function<void(bool)> write)
{
    auto* box = new QCheckBox(text);
    const auto show = [&settings, box, read = std::move(read)] {
        const QSignalBlocker blocker(box);
        box->setChecked(read(settings.settings()));
    };
    show();
    QObject::connect(&settings, &SettingsOperations::settingsChanged, box, show);
    QObject::connect(box, &QCheckBox::toggled, box, [write = std::move(write), show](bool on) {
        write(on);
        // What the operation stored, also when it published no change.
        show();
    });
    return box;
}

} // namespace pallix
