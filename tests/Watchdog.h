// Guards for tests of code that must not block or read without end: a regression then
// fails its test instead of hanging the suite or exhausting the machine.
#pragma once

#include <QFile>
#include <QString>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define GLYVEX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define GLYVEX_SANITIZED 1
#endif
#endif

// Whoever still waits in open() on the FIFO after `timeout` is released: the FIFO is
// opened for writing and closed again, so the reader sees end of file. fired() tells
// whether that was needed, and stops the watchdog.
class TFifoWatchdog {
public:
    TFifoWatchdog(const QString& fifo, std::chrono::milliseconds timeout)
        : m_path(QFile::encodeName(fifo)), m_thread([this, timeout] { run(timeout); }) {}
    ~TFifoWatchdog() { stop(); }
    TFifoWatchdog(const TFifoWatchdog&) = delete;
    TFifoWatchdog& operator=(const TFifoWatchdog&) = delete;

    bool fired() {
        stop();
        return m_fired;
    }

private:
    void stop() {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }
    void run(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, timeout, [this] { return m_done; })) return;
        m_fired = true;
        while (!m_done) {
            const int fd = ::open(m_path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
            m_wake.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_done; });
        }
    }

    QByteArray m_path;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_fired = false;
    std::thread m_thread;
};

// Runs `body` in a child process that is killed after `seconds` and may not grow its
// address space by more than `extraBytes`. True if the body returned true in time.
// Not for sanitizer builds: their shadow memory needs the whole address space.
inline bool RunBounded(const std::function<bool()>& body, unsigned seconds, long extraBytes) {
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        ::alarm(seconds);
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + rlim_t(extraBytes);
        const rlimit lim{limit, limit};
        if (pages <= 0 || ::setrlimit(RLIMIT_AS, &lim) != 0) ::_exit(3);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
