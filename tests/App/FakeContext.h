#pragma once
// An AppContext on fakes, for a feature built without the model: the
// settings record in memory (every write counted), the status line recorded,
// a fake clock, in-memory defaults, no volumes, and the shared-drive store in
// the test's folder. Members are public; fill `settings` before using the
// feature.

#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QThreadPool>

#include "App/Context/AppContext.h"
#include "App/Context/FaultNotices.h"
#include "App/ModelTestSupport.h"

namespace pallix::testing_support {

struct FakeContext {
    TempDir dir;
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    AppModelEnvironment env;
    AsyncClock asyncClock{clock};
    FaultNotices notices;
    AppSettings settings;
    int settingsWrites = 0;
    std::vector<QString> statusLines;
    std::shared_ptr<IndexStore> server;
    std::unique_ptr<AppContext> context;
    // Last: its jobs end before what they use goes.
    QThreadPool pool;

    FakeContext()
    {
        env.volumes = std::make_shared<FixedVolumeProvider>(std::vector<MountedVolume>{});
        env.executablePath = "/usr/bin/pallix";
        const fs::path database = dir.path() / "server_index.sqlite";
        server = std::make_shared<IndexStore>(database, clock);
        EXPECT_TRUE(server->bootstrap().has_value());
        context = std::make_unique<AppContext>(
            env, asyncClock, pool, *defaults, AppStores{nullptr, server, database, nullptr, nullptr},
            SettingsAccess{[this]() -> const AppSettings& { return settings; },
                           [this](const std::function<void(AppSettings&)>& change) {
                               change(settings);
                               ++settingsWrites;
                           }},
            [this](const QString& text, StatusKind) { statusLines.push_back(text); }, notices,
            [](const std::shared_ptr<CancelToken>&) {});
    }
    ~FakeContext() { pool.waitForDone(); }
};

} // namespace pallix::testing_support
