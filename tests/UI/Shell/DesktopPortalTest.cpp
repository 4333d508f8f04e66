// The desktop portal's exchanges (global shortcut, folder chooser) against a
// stand-in portal on a private session bus that the test starts.

#include <gtest/gtest.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QFileDialog>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "UI/Settings/DirectoryChooser.h"
#include "UI/Shell/GlobalShortcutsPortal.h"
#include "UI/Shell/HotKeyRegistration.h"

namespace pallix {
namespace {

constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";

// dbus-daemon --session on a socket of its own, ended with the test.
class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                       QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(10000))
            return;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(10000)) {
        }
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : m_names)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(10000);
    }
    bool isRunning() const { return !m_address.isEmpty(); }
    QDBusConnection connect(const QString& name)
    {
        m_names << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// What the stand-in saw and how it answers; one object for both interfaces.
struct StandInState {
    StandInState(QDBusConnection bus, QString client) : bus(std::move(bus)), client(std::move(client)) {}

    QDBusConnection bus;
    QString client;           // the caller's unique name: its request paths
    uint bindResponse = 0;    // 0 bound, 1 the user cancelled
    uint chooserResponse = 0;
    QStringList chosenUris;
    QVariantMap createOptions;
    QString boundSession;
    PortalShortcutList boundShortcuts;
    QString chooserTitle;
    QVariantMap chooserOptions;
    int sessions = 0;

    void respond(const QVariantMap& options, uint code, const QVariantMap& results)
    {
        const QString path = requestPath(options).path();
        // After the call's reply, as a portal does once the user has answered.
        QTimer::singleShot(0, [this, path, code, results] {
            QDBusMessage response =
                QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            response << code << results;
            bus.send(response);
        });
        return;
    }
    // Named after the caller and its token, as the portal documents.
    QDBusObjectPath requestPath(const QVariantMap& options) const
    {
        QString sender = client.mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QDBusObjectPath(QStringLiteral("%1/request/%2/%3")
                                   .arg(QLatin1String(kPortalPath), sender, options.value("handle_token").toString()));
    }
};

class StandInShortcuts : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    StandInShortcuts(QObject* parent, StandInState& state) : QDBusAbstractAdaptor(parent), m_state(state) {}
    uint version() const { return 1; }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options)
    {
        m_state.createOptions = options;
        const QString session =
            QStringLiteral("%1/session/x/%2").arg(QLatin1String(kPortalPath), options.value("session_handle_token").toString());
        ++m_state.sessions;
        m_state.respond(options, 0, {{QStringLiteral("session_handle"), session}});
        return m_state.requestPath(options);
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session, const QList<pallix::PortalShortcut>& shortcuts,
                                  const QString&, const QVariantMap& options)
    {
        m_state.boundSession = session.path();
        m_state.boundShortcuts = shortcuts;
        PortalShortcutList bound;
        for (PortalShortcut shortcut : shortcuts) {
            shortcut.properties = {{QStringLiteral("description"), shortcut.properties.value("description")},
                                   {QStringLiteral("trigger_description"), QStringLiteral("Ctrl+Alt+Space")}};
            bound << shortcut;
        }
        m_state.respond(options, m_state.bindResponse,
                        m_state.bindResponse == 0 ? QVariantMap{{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}}
                                                  : QVariantMap{});
        return m_state.requestPath(options);
    }

private:
    StandInState& m_state;
};

class StandInFileChooser : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")

public:
    StandInFileChooser(QObject* parent, StandInState& state) : QDBusAbstractAdaptor(parent), m_state(state) {}

public slots:
    QDBusObjectPath OpenFile(const QString&, const QString& title, const QVariantMap& options)
    {
        m_state.chooserTitle = title;
        m_state.chooserOptions = options;
        m_state.respond(options, m_state.chooserResponse,
                        {{QStringLiteral("uris"), m_state.chosenUris}});
        return m_state.requestPath(options);
    }

private:
    StandInState& m_state;
};

struct DesktopPortalTest : testing::Test {
    PrivateBus bus;
    QDBusConnection portalSide{QString()};
    QDBusConnection client{QString()};
    std::unique_ptr<StandInState> state;
    QObject portalObject;

    void SetUp() override
    {
        ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start";
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcutList>();
        portalSide = bus.connect(QStringLiteral("portal"));
        client = bus.connect(QStringLiteral("client"));
        ASSERT_TRUE(portalSide.isConnected() && client.isConnected());
        state = std::make_unique<StandInState>(portalSide, client.baseService());
    }
    // Without this, the bus has no portal at all.
    void startPortal()
    {
        new StandInShortcuts(&portalObject, *state);
        new StandInFileChooser(&portalObject, *state);
        ASSERT_TRUE(portalSide.registerObject(QString::fromLatin1(kPortalPath), &portalObject));
        ASSERT_TRUE(portalSide.registerService(QString::fromLatin1(kPortalService)));
    }
    void activate(const QString& session, const QString& id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPortalPath),
                                                         QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
                                                         QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1) << QVariantMap();
        portalSide.send(signal);
    }
};

TEST_F(DesktopPortalTest, TheHotKeyIsBoundThroughThePortalAndItsActivationTogglesTheWindow)
{
    startPortal();
    GlobalShortcutsPortal portal(client);
    int toggles = 0;
    QStringList reports;
    HotKeyRegistration registration({nullptr, &portal, [&] { ++toggles; }, [&](const QString& m) { reports << m; }});
    registration.registerHotKey(GlobalHotKey::standard());
    EXPECT_EQ(registration.status().state(), HotKeyStatus::State::Pending);
    QSignalSpy bound(&portal, &GlobalShortcutsPortal::bound);
    ASSERT_TRUE(bound.wait(20000));
    EXPECT_EQ(bound.at(0).at(0).toString(), QStringLiteral("Ctrl+Alt+Space"));
    EXPECT_EQ(registration.status().state(), HotKeyStatus::State::Registered);
    EXPECT_TRUE(reports.isEmpty());

    ASSERT_EQ(state->boundShortcuts.size(), 1);
    EXPECT_EQ(state->boundShortcuts[0].id, QStringLiteral("toggle-search"));
    EXPECT_EQ(state->boundShortcuts[0].properties.value("preferred_trigger").toString(), QStringLiteral("CTRL+ALT+space"));
    EXPECT_FALSE(state->boundShortcuts[0].properties.value("description").toString().isEmpty());
    EXPECT_TRUE(state->boundSession.endsWith(state->createOptions.value("session_handle_token").toString()));

    // Only our shortcut in our session toggles.
    QSignalSpy activated(&portal, &GlobalShortcutsPortal::activated);
    activate(QStringLiteral("/org/freedesktop/portal/desktop/session/x/other"), QStringLiteral("toggle-search"));
    activate(state->boundSession, QStringLiteral("something-else"));
    activate(state->boundSession, QStringLiteral("toggle-search"));
    ASSERT_TRUE(activated.wait(20000));
    EXPECT_EQ(toggles, 1);

    // A new key opens a new session.
    registration.registerHotKey(GlobalHotKey{40, GlobalHotKey::kControl | GlobalHotKey::kOption});
    ASSERT_TRUE(bound.wait(20000));
    EXPECT_EQ(state->sessions, 2);
    EXPECT_EQ(state->boundShortcuts[0].properties.value("preferred_trigger").toString(), QStringLiteral("CTRL+ALT+k"));
}

TEST_F(DesktopPortalTest, ARefusedOrMissingPortalShowsNotRegisteredAndNamesTheCommand)
{
    // No portal on the bus: nothing to bind with.
    {
        GlobalShortcutsPortal portal(client);
        QStringList reports;
        HotKeyRegistration registration({nullptr, &portal, {}, [&](const QString& m) { reports << m; }});
        QSignalSpy failed(&portal, &GlobalShortcutsPortal::failed);
        registration.registerHotKey(GlobalHotKey::standard());
        ASSERT_TRUE(failed.wait(20000));
        EXPECT_EQ(failed.at(0).at(0).value<hotkeys::HotKeyFailure>(), hotkeys::HotKeyFailure::NoGlobalShortcuts);
        EXPECT_EQ(registration.status().state(), HotKeyStatus::State::NotRegistered);
        EXPECT_TRUE(registration.status().reason().contains(QStringLiteral("pallix --toggle")));
        ASSERT_EQ(reports.size(), 1);
        EXPECT_TRUE(reports[0].contains(QStringLiteral("pallix --toggle")));
    }
    // The user declined in the desktop's dialog.
    startPortal();
    state->bindResponse = 1;
    GlobalShortcutsPortal portal(client);
    HotKeyRegistration registration({nullptr, &portal, {}, {}});
    QSignalSpy failed(&portal, &GlobalShortcutsPortal::failed);
    registration.registerHotKey(GlobalHotKey::standard());
    ASSERT_TRUE(failed.wait(20000));
    EXPECT_EQ(failed.at(0).at(0).value<hotkeys::HotKeyFailure>(), hotkeys::HotKeyFailure::Refused);
    EXPECT_EQ(registration.status().state(), HotKeyStatus::State::NotRegistered);
}

TEST_F(DesktopPortalTest, TheFolderChooserIsTheDesktopsOwnWhereThePortalIsAndQtsOtherwise)
{
    QWidget window;
    std::vector<QStringList> answers;
    const auto record = [&](const QStringList& folders) { answers.push_back(folders); };

    // No portal: Qt's own dialog opens over the window.
    chooseDirectories(&window, QStringLiteral("选择目录"), false, record, client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.findChild<QFileDialog*>() != nullptr; }, 20000));
    QPointer<QFileDialog> fallback = window.findChild<QFileDialog*>();
    fallback->reject();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(answers[0].isEmpty());
    delete fallback.data();

    startPortal();
    state->chosenUris = {QStringLiteral("file:///srv/%E5%85%B1%E4%BA%AB/a"), QStringLiteral("file:///srv/b%20c")};
    chooseDirectories(&window, QStringLiteral("添加共享盘目录"), true, record, client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 20000));
    EXPECT_EQ(answers[1], (QStringList{QStringLiteral("/srv/共享/a"), QStringLiteral("/srv/b c")}));
    EXPECT_EQ(state->chooserTitle, QStringLiteral("添加共享盘目录"));
    EXPECT_TRUE(state->chooserOptions.value("directory").toBool());
    EXPECT_TRUE(state->chooserOptions.value("multiple").toBool());
    EXPECT_EQ(window.findChild<QFileDialog*>(), nullptr);

    // Cancelled in the desktop's chooser: an empty answer, and no second dialog.
    state->chooserResponse = 1;
    chooseDirectories(&window, QStringLiteral("选择目录"), false, record, client);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 3; }, 20000));
    EXPECT_TRUE(answers[2].isEmpty());
    EXPECT_FALSE(state->chooserOptions.value("multiple").toBool());
    EXPECT_EQ(window.findChild<QFileDialog*>(), nullptr);
}

} // namespace
} // namespace pallix

#include "DesktopPortalTest.moc"
