#pragma once
// SingleInstance: one running 珀溪 per user. A second start hands over to the
// running one (which shows its window) and exits, instead of indexing the
// same database from a second process. The meeting point is a local socket
// in the user's runtime folder. GUI thread only.

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace pallix {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject* parent = nullptr);

    static QString defaultSocketPath();

    // What a second start asks of the running one.
    enum class Request { Show, Toggle };

    // True when a running instance took the request.
    bool handOver(Request request = Request::Show) const;
    // Becomes the running instance; a socket left by a crashed one is replaced.
    bool listen();

signals:
    void activationRequested();
    void toggleRequested();  // `pallix --toggle`

private:
    QString m_socketPath;
    QLocalServer m_server;
};

} // namespace pallix
