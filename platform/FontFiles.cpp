#include "FontFiles.h"

#include "FaceMetrics.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TFd {
    int fd = -1;
    ~TFd() {
        if (fd >= 0) ::close(fd);
    }
};

TFontFileError ErrorOfErrno(int error) {
    return error == ENOENT || error == ENOTDIR ? TFontFileError::Missing : TFontFileError::Unreadable;
}

} // namespace

TOpenedFontFile OpenFontFile(const QString& path, TFaceMetrics* metrics) {
    TOpenedFontFile result;
    result.path = path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
    const auto failed = [&result](TFontFileError error) {
        result.error = error;
        result.families.clear();
        return result;
    };
    if (path.isEmpty()) return failed(TFontFileError::Missing);
    const QByteArray native = QFile::encodeName(path);
    // Looked at before opening: opening a device or FIFO may already have effects.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) return failed(ErrorOfErrno(errno));
    if (!S_ISREG(st.st_mode)) return failed(TFontFileError::NotRegular);
    TFd file{::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) return failed(ErrorOfErrno(errno));
    // Again on what was opened: the path may have been replaced in between.
    if (::fstat(file.fd, &st) != 0) return failed(TFontFileError::Unreadable);
    if (!S_ISREG(st.st_mode)) return failed(TFontFileError::NotRegular);
    if (st.st_size > kMaxFontFileBytes) return failed(TFontFileError::TooLarge);
    if (st.st_size == 0) return failed(TFontFileError::NotAFont);

    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::pread(file.fd, data.data() + done, size_t(data.size() - done), off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return failed(TFontFileError::Unreadable); // an error, or the file shrank
        done += n;
    }
    // The index first: it waits for its own fontconfig work to end, and Qt's registration
    // below changes fontconfig's set of application fonts.
    if (metrics) (void)metrics->addFontFile(result.path, file.fd);
    const int id = QFontDatabase::addApplicationFontFromData(data);
    if (id < 0) return failed(TFontFileError::NotAFont);
    result.families = QFontDatabase::applicationFontFamilies(id);
    if (result.families.isEmpty()) {
        QFontDatabase::removeApplicationFont(id);
        return failed(TFontFileError::NotAFont);
    }
    return result;
}
