#pragma once
// SingleInstance: one running 珀溪 per user. A second start hands over to the
// running one (which acts on the message, e.g. shows its window) and exits,
// instead of indexing the same database from a second process.
//
// The truth of "one is running" is a per-user lock file ("pallix.lock" in the
// user's runtime folder) held with flock() for the life of the process: the
// kernel drops it when the process ends, however it ends. The lock file names
// the local socket the holder listens on ("pallix.socket" beside it, or a
// name of its own when something it may not remove is in the way: a folder,
// another user's socket, a live socket of another program).
//
// A hand-over counts only when the running instance answers: one line
// "pallix <version> <word>\n" out, "pallix <version> ok\n" back, within about
// a second. The word says what to do ("show"; "toggle" from `pallix
// --toggle`); further words can be added without changing the exchange. GUI
// thread only.

#include <chrono>

#include <QLocalServer>
#include <QObject>
#include <QString>

namespace pallix {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    static constexpr int kProtocolVersion = 1;
    static constexpr std::chrono::milliseconds kAnswerTimeout{1000};

    // `folder`: where the lock file and the socket live (the runtime folder).
    explicit SingleInstance(QString folder = defaultFolder(), std::chrono::milliseconds answerTimeout = kAnswerTimeout,
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultFolder();
    QString lockPath() const;
    // The socket this instance listens on once it does; before, the default name.
    QString socketPath() const { return m_socketPath; }

    enum class HandOver {
        NoneRunning,   // no 珀溪 holds the lock: this one holds it now
        HandedOver,    // the running one answered
        NotAnswering,  // one holds the lock but gave no answer in time
    };
    // Takes the lock when it is free; else sends `word` to the holder.
    HandOver handOver(const QString& word = QStringLiteral("show"));
    // Becomes the running instance: needs the lock (taken here when free).
    // False when another holds it or no socket could be listened on.
    bool listen();
    // After NotAnswering, on the user's word: listens in the unresponsive
    // one's place. Its socket is replaced when it is this user's socket; a
    // folder or another user's socket is never removed (a name of its own is
    // taken then). The lock stays with its holder.
    bool startAnyway();

    // One request line and its parts; false when it is not ours.
    static bool parseRequest(const QByteArray& line, int& version, QString& word);

signals:
    // A well-formed request of our version, after it was answered.
    void messageReceived(const QString& word);
    // The request "show".
    void activationRequested();
    // The request "toggle" (`pallix --toggle`).
    void toggleRequested();

private:
    bool tryLock();
    QString announcedSocketPath() const;
    void announce();
    bool listenOnFreePath();
    void answer(class QLocalSocket* socket);

    QString m_folder;
    std::chrono::milliseconds m_answerTimeout;
    QString m_socketPath;
    int m_lockFd = -1;  // open while this process holds the lock
    QLocalServer m_server;
};

} // namespace pallix
