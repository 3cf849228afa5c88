// Shared set-up for the libFuzzer targets: a headless Qt application with the program's
// screen and application objects, made once per process.
#pragma once

#include "Forms.h"
#include "Startup.h"

#include <QApplication>

#include <cstddef>
#include <cstdint>
#include <memory>

#include <sys/mman.h>
#include <unistd.h>

inline void FuzzEnvironment() {
    struct TEnvironment {
        int argc = 1;
        char name[12] = "glyvex-fuzz";
        char* argv[2] = {name, nullptr};
        QApplication app{argc, argv};
        TScreen screen{QStringList{QStringLiteral("DejaVu Sans")}, 96};
        TApplication application;
    };
    // Made once and never destroyed: Qt must not be torn down by exit handlers, after
    // its own globals are gone.
    static TEnvironment* environment = nullptr;
    if (environment) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    environment = new TEnvironment;
    RegisterGlyvexClasses();
    environment->application.OnException = [](const QString&) {};
}

// The input as a regular file that lives in memory: its /proc/self/fd path can be opened
// like any font or cache file.
class TMemoryFile {
public:
    TMemoryFile(const uint8_t* data, size_t size) : m_fd(::memfd_create("glyvex-fuzz", MFD_CLOEXEC)) {
        size_t done = 0;
        while (m_fd >= 0 && done < size) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0) break;
            done += size_t(n);
        }
    }
    ~TMemoryFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

// A broken invariant is a finding: stop with a crash libFuzzer records.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond)) __builtin_trap();                                                                       \
    } while (0)
