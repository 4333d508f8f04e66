#include "UI/Shell/GlobalShortcutsPortal.h"

#include <utility>

#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>

#include "UI/Common/HotKeyKeyMap.h"
#include "UI/Common/HotKeyMapping.h"
#include "UI/Common/PortalRequest.h"

namespace pallix {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

namespace {

constexpr char kSessionInterface[] = "org.freedesktop.portal.Session";

QString pathOf(const QVariant& value)
{
    // The session handle is a string in the interface, an object path in some desktops.
    return value.userType() == qMetaTypeId<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                                                : value.toString();
}

} // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<PortalShortcutList>();
    m_bus.connect(QString::fromLatin1(portal::kService), QString::fromLatin1(portal::kPath), QString::fromLatin1(kInterface),
                  QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    closeSession(m_session);
}

QString GlobalShortcutsPortal::preferredTrigger(const GlobalHotKey& hotKey)
{
    QString trigger;
    constexpr std::pair<std::uint32_t, const char*> kModifiers[] = {
        {GlobalHotKey::kControl, "CTRL"},
        {GlobalHotKey::kOption, "ALT"},
        {GlobalHotKey::kShift, "SHIFT"},
        {GlobalHotKey::kCommand, "LOGO"},
    };
    for (const auto& [bit, name] : kModifiers) {
        if (hotKey.carbonModifiers & bit)
            trigger += QString::fromLatin1(name) + QLatin1Char('+');
    }
    // The key is named as XKB names keysyms: lower-case letters, "space", "KP_1".
    const QString key = hotkeys::keysymName(hotKey.keyCode);
    return trigger + (key.isEmpty() ? hotkeymap::displayText({hotKey.keyCode, 0}) : key);
}

void GlobalShortcutsPortal::request(const QString& method, QList<QVariant> arguments, QVariantMap options,
                                    std::function<void(uint, const QVariantMap&)> done)
{
    portal::request(m_bus, QString::fromLatin1(kInterface), method, std::move(arguments), std::move(options), this,
                    {std::move(done), [this](const QDBusError& error) {
                         emit failed(portal::meansNoService(error) ? hotkeys::HotKeyFailure::NoGlobalShortcuts
                                                                   : hotkeys::HotKeyFailure::Refused,
                                     error.message());
                     }});
}

void GlobalShortcutsPortal::bind(const std::optional<GlobalHotKey>& hotKey)
{
    const int generation = ++m_generation;
    closeSession(std::exchange(m_session, {}));
    if (hotKey)
        createSession(*hotKey, generation);
}

void GlobalShortcutsPortal::createSession(const GlobalHotKey& hotKey, int generation)
{
    QVariantMap options{{QStringLiteral("session_handle_token"), portal::nextToken()}};
    request(QStringLiteral("CreateSession"), {}, options, [this, hotKey, generation](uint code, const QVariantMap& results) {
        const QString session = pathOf(results.value(QStringLiteral("session_handle")));
        if (generation != m_generation) {
            closeSession(session);  // a later bind() replaced this one
            return;
        }
        m_session = session;
        if (code != 0 || m_session.isEmpty()) {
            emit failed(hotkeys::HotKeyFailure::Refused, {});
            return;
        }
        bindShortcut(hotKey, generation);
    });
}

void GlobalShortcutsPortal::bindShortcut(const GlobalHotKey& hotKey, int generation)
{
    const PortalShortcut shortcut{QString::fromLatin1(kShortcutId),
                                  {{QStringLiteral("description"), QStringLiteral("显示或隐藏珀溪搜索窗口")},
                                   {QStringLiteral("preferred_trigger"), preferredTrigger(hotKey)}}};
    const QList<QVariant> arguments{QVariant::fromValue(QDBusObjectPath(m_session)),
                                    QVariant::fromValue(PortalShortcutList{shortcut}), QString()};
    request(QStringLiteral("BindShortcuts"), arguments, {}, [this, generation](uint code, const QVariantMap& results) {
        if (generation != m_generation)
            return;
        if (code != 0) {
            emit failed(hotkeys::HotKeyFailure::Refused, {});
            return;
        }
        const auto shortcuts = qdbus_cast<PortalShortcutList>(results.value(QStringLiteral("shortcuts")));
        for (const PortalShortcut& bound : shortcuts) {
            if (bound.id == QLatin1String(kShortcutId)) {
                emit this->bound(bound.properties.value(QStringLiteral("trigger_description")).toString());
                return;
            }
        }
        emit failed(hotkeys::HotKeyFailure::Refused, {});
    });
}

void GlobalShortcutsPortal::closeSession(const QString& session)
{
    if (session.isEmpty() || !m_bus.isConnected())
        return;
    m_bus.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(portal::kService), session,
                                                   QString::fromLatin1(kSessionInterface), QStringLiteral("Close")));
}

void GlobalShortcutsPortal::onActivated(const QDBusMessage& signal)
{
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2 || m_session.isEmpty())
        return;
    if (pathOf(arguments[0]) == m_session && arguments[1].toString() == QLatin1String(kShortcutId))
        emit activated();
}

} // namespace pallix
