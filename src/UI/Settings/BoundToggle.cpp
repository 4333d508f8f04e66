#include "UI/Settings/BoundToggle.h"

#include <QSignalBlocker>

#include "App/AppModel.h"

namespace pallix {

QCheckBox* boundToggle(AppModel& model, const QString& text, std::function<bool(const AppSettings&)> read,
                       std::function<void(bool)> write)
{
    auto* box = new QCheckBox(text);
    const auto show = [&model, box, read = std::move(read)] {
        const QSignalBlocker blocker(box);
        box->setChecked(read(model.settings()));
    };
    show();
    QObject::connect(&model, &AppModel::settingsChanged, box, show);
    QObject::connect(box, &QCheckBox::toggled, box, [write = std::move(write), show](bool on) {
        write(on);
        // What the operation stored, also when it published no change.
        show();
    });
    return box;
}

} // namespace pallix
