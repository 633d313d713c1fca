#include "UpdateFollower.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "AnswerDocument.h"
#include "ProgressView.h"
#include "ProgressWatch.h"

UpdateFollower::UpdateFollower(uint64_t plugin, double intervalSeconds, int total)
    : m_nPlugin(plugin), m_dInterval(intervalSeconds), m_nTotal(total) {}

UpdateFollower::~UpdateFollower() { finish(std::string()); }

bool UpdateFollower::start() {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return false;
    // Nothing buffered may be written twice.
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        return false;
    }
    if (child == 0) {
        ::close(sockets[0]);
        follow(sockets[1]);
    }
    ::close(sockets[1]);
    m_nChild = child;
    m_nSocket = sockets[0];
    return true;
}

void UpdateFollower::finish(const std::string& answer) {
    if (m_nSocket >= 0) {
        std::size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = ::send(m_nSocket, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // the view has gone: nothing more to show
            sent += static_cast<std::size_t>(n);
        }
        ::close(m_nSocket);
        m_nSocket = -1;
    }
    if (m_nChild > 0) {
        int status = 0;
        while (::waitpid(m_nChild, &status, 0) < 0 && errno == EINTR) {}
        m_nChild = -1;
    }
}

void UpdateFollower::follow(int socket) const {
    ProgressWatch watch(m_nPlugin, m_dInterval);
    ProgressView view(stderr, true, m_nTotal);
    view.begin(ProgressWatch::now());
    std::string final;
    for (bool first = true;; first = false) {
        pollfd ready{socket, POLLIN, 0};
        const int rc = ::poll(&ready, 1, first ? 0 : static_cast<int>(m_dInterval * 1000));
        if (rc < 0 && errno == EINTR) continue;
        if (rc > 0) break;
        const std::string text = watch.ask();
        if (!text.empty()) view.observe(AnswerDocument::parse(text), ProgressWatch::now());
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(socket, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        final.append(buffer, static_cast<std::size_t>(n));
    }
    // Without an answer the update's process went away: no summary.
    if (!final.empty()) view.finish(AnswerDocument::parse(final), ProgressWatch::now());
    std::fflush(stderr);
    ::_exit(0);
}
