#include "App/ImageTags/RecogniserProcess.h"

#include <cerrno>
#include <csignal>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

#include "App/Paths/HelperPrograms.h"
#include "Core/Semantic/CenterNetDetector.h"

extern char** environ;

namespace pallix {

namespace {

using Clock = std::chrono::steady_clock;

// How long an idle helper whose input was closed may take to exit before it is killed.
constexpr int kExitGraceMs = 2000;

// The calling thread's scheduling, which a helper spawned from it inherits.
RecogniserProcess::Priority callerPriority()
{
    const pid_t thread = static_cast<pid_t>(::syscall(SYS_gettid));
    return {::sched_getscheduler(thread), ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread))};
}

bool modelFoundFor(const QString& helper)
{
    const QFileInfo program(helper);
    if (!program.isExecutable())
        return false;
    // The helper looks from its own folder, links resolved, as the application does.
    return CenterNetDetector::findModelFolder(QFile::encodeName(program.canonicalPath()).toStdString()).has_value();
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd ready{fd, events, 0};
        const int n = ::poll(&ready, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

bool sendAll(int fd, std::string_view bytes, Clock::time_point deadline)
{
    while (!bytes.empty()) {
        // No SIGPIPE when the helper has died: the send fails instead.
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n > 0) {
            bytes.remove_prefix(std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLOUT, deadline))
            continue;
        return false;
    }
    return true;
}

bool receiveExactly(int fd, std::string& buffer, std::size_t size, Clock::time_point deadline)
{
    buffer.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(fd, buffer.data() + got, size - got, 0);
        if (n > 0) {
            got += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLIN, deadline))
            continue;
        return false;  // the helper closed its end, or the time is up
    }
    return true;
}

class HelperTextRecognizer final : public TextRecognizer {
public:
    explicit HelperTextRecognizer(std::shared_ptr<RecogniserProcess> process) : m_process(std::move(process)) {}

    std::vector<RecognisedLine> recognise(const QImage& image) override
    {
        std::vector<RecognisedLine> lines;
        if (auto answer = m_process->recognise(recogniser::Kind::TextLines, image))
            for (recogniser::Entry& entry : answer->entries)
                lines.push_back({std::move(entry.text), entry.confidence});
        return lines;
    }
    void releaseWorkingMemory() override { m_process->end(); }

private:
    std::shared_ptr<RecogniserProcess> m_process;
};

class HelperClassifier final : public ImageClassifier {
public:
    explicit HelperClassifier(std::shared_ptr<RecogniserProcess> process) : m_process(std::move(process)) {}

    std::vector<imagetags::Classification> classify(const QImage& image) override
    {
        std::vector<imagetags::Classification> found;
        if (auto answer = m_process->recognise(recogniser::Kind::Objects, image))
            for (recogniser::Entry& entry : answer->entries)
                found.push_back({std::move(entry.text), entry.confidence});
        return found;
    }
    bool recognisesObjects() const override { return m_process->recognisesObjects(); }
    void releaseWorkingMemory() override { m_process->end(); }

private:
    std::shared_ptr<RecogniserProcess> m_process;
};

} // namespace

RecogniserProcess::RecogniserProcess(std::chrono::milliseconds requestLimit)
    : m_requestLimit(requestLimit), m_modelFound(modelFoundFor(helperPath()))
{
}

RecogniserProcess::~RecogniserProcess()
{
    end();
}

std::shared_ptr<TextRecognizer> RecogniserProcess::textRecognizer(std::shared_ptr<RecogniserProcess> process)
{
    return std::make_shared<HelperTextRecognizer>(std::move(process));
}

std::shared_ptr<ImageClassifier> RecogniserProcess::classifier(std::shared_ptr<RecogniserProcess> process)
{
    return std::make_shared<HelperClassifier>(std::move(process));
}

QString RecogniserProcess::helperPath()
{
    return helperprograms::find("PALLIX_RECOGNISER", QStringLiteral("pallix-recogniser"),
                                QStringLiteral(PALLIX_RECOGNISER_BUILD_PATH));
}

pid_t RecogniserProcess::processId() const
{
    std::lock_guard lock(m_mutex);
    return m_pid;
}

std::optional<recogniser::Answer> RecogniserProcess::recognise(recogniser::Kind kind, const QImage& image)
{
    const std::optional<std::string> request = recogniser::encodeRequest(kind, image);
    if (!request)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    // The helper works at its caller's priority: one started by a caller at
    // another (the tagger's worker is lowered to idle) makes way for a new one.
    const Priority priority = callerPriority();
    if (m_pid != 0 && priority != m_priority)
        endLocked(false);
    if (m_pid == 0 && !startLocked())
        return std::nullopt;
    m_priority = priority;
    std::optional<recogniser::Answer> answer = exchangeLocked(*request);
    if (!answer) {
        endLocked(true);
        return std::nullopt;
    }
    if (kind == recogniser::Kind::Objects)
        m_objectsRecognisable = answer->recognisable;
    return answer;
}

void RecogniserProcess::end()
{
    std::lock_guard lock(m_mutex);
    endLocked(false);
}

bool RecogniserProcess::startLocked()
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    const QByteArray program = QFile::encodeName(helperPath());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    // What the engines say about a user's picture is not the application's error.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program.constData()), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return false;
    }
    ::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    m_pid = pid;
    m_socket = ends[0];
    return true;
}

std::optional<recogniser::Answer> RecogniserProcess::exchangeLocked(const std::string& request)
{
    const Clock::time_point deadline = Clock::now() + m_requestLimit;
    std::string header;
    std::string body;
    if (!sendAll(m_socket, request, deadline)
        || !receiveExactly(m_socket, header, recogniser::kAnswerHeaderSize, deadline))
        return std::nullopt;
    const std::optional<std::uint32_t> length = recogniser::parseAnswerLength(header);
    if (!length || !receiveExactly(m_socket, body, *length, deadline))
        return std::nullopt;
    return recogniser::parseAnswerBody(body);
}

void RecogniserProcess::endLocked(bool kill)
{
    if (m_pid == 0)
        return;
    // Closed input ends a helper between requests; one that does not leave
    // soon after, or has failed a request, is killed.
    ::close(m_socket);
    m_socket = -1;
    const int pidfd = kill ? -1 : static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidfd < 0 || !waitFor(pidfd, POLLIN, Clock::now() + std::chrono::milliseconds(kExitGraceMs)))
        ::kill(m_pid, SIGKILL);
    if (pidfd >= 0)
        ::close(pidfd);
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = 0;
}

} // namespace pallix
