#pragma once
// A desktop that records every effect of a file action instead of showing
// it: opened and revealed locations, the clipboard, alerts and questions.
// A question is answered by `answer` when set, else kept until the test
// answers it with respond().

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QList>
#include <QMimeData>
#include <QStringList>

#include "App/Actions/DesktopEffects.h"

namespace pallix::testing_support {

class RecordingDesktop final : public DesktopEffects {
public:
    void openUrl(const QUrl& url) override { opened.append(url); }
    void revealInFileManager(const QUrl& file) override { revealed.append(file); }
    void setClipboard(QMimeData* data) override { clipboard.reset(data); }
    void alert(const QString& title, const QString& message) override { alerts.append(title + "|" + message); }
    void confirm(const ConfirmationRequest& request, std::function<void(bool)> reply) override
    {
        questions.push_back(request);
        if (answer)
            reply(*answer);
        else
            pending = std::move(reply);
    }
    void respond(bool accepted)
    {
        auto reply = std::move(pending);
        pending = nullptr;
        reply(accepted);
    }

    QList<QUrl> opened;
    QList<QUrl> revealed;
    std::unique_ptr<QMimeData> clipboard;
    QStringList alerts;
    std::vector<ConfirmationRequest> questions;
    std::optional<bool> answer;
    std::function<void(bool)> pending;
};

} // namespace pallix::testing_support
