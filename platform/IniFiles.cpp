#include "IniFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

#include <QSet>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

bool StrToIntCheck(const QString& text, int& value) {
    QString t = text;
    bool negative = false;
    if (t.startsWith(u'-') || t.startsWith(u'+')) {
        negative = t.front() == u'-';
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(u'$')) {
        base = 16;
        t.remove(0, 1);
    } else if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        t.remove(0, 2);
    }
    if (t.isEmpty()) return false;
    for (QChar c : t) {
        const char16_t u = c.unicode();
        const bool digit = u >= u'0' && u <= u'9';
        const bool hex = digit || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
        if (!(base == 10 ? digit : hex)) return false;
    }
    bool ok = false;
    const qulonglong n = t.toULongLong(&ok, base);
    if (!ok) return false;
    if (base == 16) {
        // Hexadecimal spells the 32 bits, so $FFFFFFFF is -1; a sign negates them
        // the same way (-$80000000 is the lowest integer, not an overflow).
        if (n > 0xFFFFFFFFull) return false;
        const auto bits = quint32(n);
        value = int(negative ? 0u - bits : bits);
        return true;
    }
    const qlonglong limit = negative ? 2147483648LL : 2147483647LL;
    if (n > qulonglong(limit)) return false;
    value = int(negative ? -qlonglong(n) : qlonglong(n));
    return true;
}

// ---------------------------------------------------------------------------

namespace {

// An exclusive lock on a file beside the store, held for the merge and write. The
// lock file is opened without following a link (a link there would make us create
// a file wherever it points) and must be a plain file.
class FileLock {
public:
    enum Outcome { Locked, Unusable, Held };

    FileLock(const QString& path, std::chrono::milliseconds wait) {
        FFd = ::open(QFile::encodeName(path).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
        if (FFd < 0) return;
        struct stat st {};
        if (::fstat(FFd, &st) != 0 || !S_ISREG(st.st_mode)) {
            Drop(Unusable);
            return;
        }
        // Polled, not a blocking flock: a copy stopped while holding the lock must
        // not freeze this one without limit.
        const auto until = std::chrono::steady_clock::now() + wait;
        for (;;) {
            if (::flock(FFd, LOCK_EX | LOCK_NB) == 0) {
                FOutcome = Locked;
                return;
            }
            const int error = errno;
            if (error == EINTR) continue;
            if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= until) {
                Drop(error == EWOULDBLOCK ? Held : Unusable);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~FileLock() {
        if (FFd >= 0) ::close(FFd); // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    Outcome Result() const { return FOutcome; }

private:
    void Drop(Outcome outcome) {
        ::close(FFd);
        FFd = -1;
        FOutcome = outcome;
    }
    int FFd = -1;
    Outcome FOutcome = Unusable;
};

std::mutex LockWaitMutex;
std::chrono::milliseconds LockWaitLimit(3000);
// Files whose lock a save of this run waited for in vain.
QSet<QString> LockHeldBefore;

// Removes what interrupted saves of this store left: its temporary files. Called
// under the lock, which every save holds from making its temporary file to the
// rename, so none of them belongs to a save still running.
void RemoveStaleTemporaries(const QString& path) {
    const QFileInfo info(path);
    const QByteArray prefix = QFile::encodeName(info.fileName()) + ".tmp-";
    DIR* dir = ::opendir(QFile::encodeName(info.absolutePath()).constData());
    if (!dir) return;
    const struct Closer {
        DIR* d;
        ~Closer() { ::closedir(d); }
    } closer{dir};
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        // mkstemp's six characters, nothing else.
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix)) continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(dir), e->d_name, 0);
    }
}

bool WriteAll(int fd, const QByteArray& data) {
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// Replaces the file by the data: a temporary file in the same directory with the
// given permissions, synced, renamed over the target, then the directory synced so
// the rename survives a crash.
bool WriteAtomically(const QString& path, const QByteArray& data, mode_t mode) {
    QByteArray tmpl = QFile::encodeName(path) + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    const bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(tmpl.constData());
        return false;
    }
    const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

// Far beyond any settings a person keeps; a bigger file is damage, not settings.
constexpr qsizetype MaxStoreSize = 64 * 1024 * 1024;

enum class FileRead { Missing, Read, Unreadable, TooLarge };

// Reads a store file: regular files only, opened without blocking (a FIFO in its
// place would stop the program for good), at most MaxStoreSize bytes (a link to a
// device would feed it without end). No file, or a file where a directory should
// be, is no file.
FileRead ReadStoreFile(const QString& path, QByteArray& data) {
    data.clear();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    const struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileRead::Unreadable;
    if (st.st_size > MaxStoreSize) return FileRead::TooLarge;
    data.reserve(qsizetype(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return FileRead::Unreadable;
        }
        if (n == 0) return FileRead::Read;
        if (data.size() + n > MaxStoreSize) return FileRead::TooLarge;
        data.append(buffer, n);
    }
}

} // namespace

TStoreFile::TStoreFile(QString path) : FPath(std::move(path)) {}

TStoreFile::~TStoreFile() = default;

void TStoreFile::Open() {
    Load();
}

void TStoreFile::Failed(bool writing) const {
    try {
        if (writing) WriteFailed();
        ReadFailed();
    } catch (Exception& e) {
        // Every later read or write of this file would fail alike: told once.
        e.SetSubject((writing ? QStringLiteral("write ") : QStringLiteral("read ")) + FPath);
        throw;
    }
    Q_UNREACHABLE(); // both raise
}

std::optional<QByteArray> TStoreFile::Load() {
    QByteArray data;
    const FileRead status = ReadStoreFile(FPath, data);
    return Take(int(status), std::move(data));
}

std::optional<QByteArray> TStoreFile::Take(int status, QByteArray data) {
    Clear();
    FLoaded.reset();
    switch (FileRead(status)) {
    case FileRead::Missing:
        return std::nullopt;
    case FileRead::Unreadable:
        Failed(false);
    case FileRead::Read:
        if (Parse(data)) {
            FLoaded = data;
            return data;
        }
        break;
    case FileRead::TooLarge:
        break;
    }
    Clear();
    // Kept for the user under a name of its own; never overwritten or deleted.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = FPath + QStringLiteral(".bad-") + stamp;
    for (int n = 1; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = FPath + QStringLiteral(".bad-") + stamp + u'-' + QString::number(n);
    if (::rename(QFile::encodeName(FPath).constData(), QFile::encodeName(aside).constData()) != 0)
        Failed(false);
    ReportException(std::make_exception_ptr(
        Exception(QStringLiteral("Die Einstellungsdatei %1 konnte nicht gelesen werden und wurde als %2 "
                                 "beiseitegelegt. Es gelten die Voreinstellungen.")
                      .arg(FPath, aside))));
    return std::nullopt;
}

std::chrono::milliseconds TStoreFile::LockWait() {
    const std::lock_guard hold(LockWaitMutex);
    return LockWaitLimit;
}

void TStoreFile::SetLockWait(std::chrono::milliseconds wait) {
    const std::lock_guard hold(LockWaitMutex);
    LockWaitLimit = wait;
    LockHeldBefore.clear();
}

void TStoreFile::Change(std::function<void()> change) {
    change();
    FJournal.push_back(std::move(change));
}

void TStoreFile::UpdateFile(TLockWait wait) {
    if (FClosed) return;
    FClosed = true;
    if (FJournal.empty()) return;
    const QFileInfo info(FPath);
    if (!QDir().mkpath(info.absolutePath())) Failed(true);
    std::chrono::milliseconds limit(0);
    if (wait == TLockWait::Limited) {
        const std::lock_guard hold(LockWaitMutex);
        if (!LockHeldBefore.contains(FPath)) limit = LockWaitLimit;
    }
    FileLock lock(FPath + QStringLiteral(".lock"), limit);
    switch (lock.Result()) {
    case FileLock::Locked:
        break;
    case FileLock::Unusable:
        Failed(true);
    case FileLock::Held:
        if (wait == TLockWait::None) return;
        {
            const std::lock_guard hold(LockWaitMutex);
            LockHeldBefore.insert(FPath);
        }
        try {
            Raise(QStringLiteral("Die Einstellungsdatei %1 ist von einem anderen Programm gesperrt. Die "
                                 "Einstellungen wurden nicht gespeichert.")
                      .arg(FPath));
        } catch (Exception& e) {
            e.SetSubject(QStringLiteral("lock ") + FPath);
            throw;
        }
    }
    RemoveStaleTemporaries(FPath);
    // What another copy wrote since we opened is the base for our changes; a file
    // nobody touched since is not parsed again (the document holds it already).
    QByteArray now;
    const FileRead status = ReadStoreFile(FPath, now);
    std::optional<QByteArray> before;
    if (status == FileRead::Read && FLoaded && *FLoaded == now) {
        before = std::move(now);
    } else if (status != FileRead::Missing || FLoaded) {
        before = Take(int(status), std::move(now));
        for (const auto& change : FJournal)
            change();
    }
    const QByteArray data = Serialize();
    if (before && *before == data) return;
    mode_t mode = 0600;
    if (struct stat st{}; before && ::stat(QFile::encodeName(FPath).constData(), &st) == 0) {
        // A file its owner made read-only stays as it is (renaming over it would not
        // ask); the replacement keeps the permissions of the file it replaces.
        if ((st.st_mode & 0222) == 0) Failed(true);
        mode = st.st_mode & 07777;
    }
    if (!WriteAtomically(FPath, data, mode)) Failed(true);
}

// ---------------------------------------------------------------------------

int TCustomIniFile::ReadInteger(const QString& section, const QString& ident, int def) {
    const QString s = ReadString(section, ident, QString()).trimmed();
    int v = 0;
    return StrToIntCheck(s, v) ? v : def;
}

void TCustomIniFile::WriteInteger(const QString& section, const QString& ident, int value) {
    WriteString(section, ident, QString::number(value));
}

bool TCustomIniFile::ReadBool(const QString& section, const QString& ident, bool def) {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const QString& section, const QString& ident, bool value) {
    WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString TCustomIniFile::BaselineKey(const QString& where, const QString& ident) {
    return where.toCaseFolded() + u'\n' + ident.toCaseFolded();
}

void TCustomIniFile::NoteRead(const QString& where, const QString& ident, const QString& text) {
    if (FBaseline) FBaseline->insert(BaselineKey(where, ident), text);
}

bool TCustomIniFile::OwnChange(const QString& where, const QString& ident, const QString& text) const {
    if (!FBaseline) return true;
    const auto it = FBaseline->constFind(BaselineKey(where, ident));
    return it == FBaseline->cend() || *it != text;
}

// ---------------------------------------------------------------------------

QString TIniFile::FilePath(const QString& fileName) {
    if (QDir::isAbsolutePath(fileName)) return fileName;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + fileName;
}

TIniFile::TIniFile(const QString& fileName) : TCustomIniFile(FilePath(fileName)) {
    Open();
}

TIniFile::~TIniFile() {
    // A store dropped without closing still keeps what was written to it.
    Guard([&] { UpdateFile(); });
}

void TIniFile::ReadFailed() const {
    throw EIniFileException(QStringLiteral("Lesen von %1 nicht möglich").arg(FileName()));
}

void TIniFile::WriteFailed() const {
    throw EIniFileException(QStringLiteral("Schreiben in %1 nicht möglich").arg(FileName()));
}

void TIniFile::Raise(const QString& message) const {
    throw EIniFileException(message);
}

void TIniFile::Clear() {
    FHead.clear();
    FSections.clear();
}

bool TIniFile::Parse(const QByteArray& data) {
    if (data.contains('\0')) return false;
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decode(data);
    if (decode.hasError()) return false;
    // Byte-order marks at the start are marks, however many: a first line kept with
    // one would lose it when written back (the mark is dropped on reading).
    while (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    for (QString line : lines) {
        if (line.endsWith(u'\r')) line.chop(1);
        const QString t = line.trimmed();
        if (t.startsWith(u'[') && t.contains(u']')) {
            FSections.push_back({t.mid(1, t.indexOf(u']') - 1).trimmed(), {}});
            continue;
        }
        Line l;
        l.raw = line;
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && !t.startsWith(u';')) {
            l.entry = true;
            l.key = line.left(eq).trimmed();
            l.value = line.mid(eq + 1);
        }
        (FSections.empty() ? FHead : FSections.back().lines).push_back(std::move(l));
    }
    return true;
}

QByteArray TIniFile::Serialize() const {
    QString out;
    auto put = [&](const std::vector<Line>& lines) {
        for (const auto& l : lines)
            out += (l.entry && l.changed ? l.key + u'=' + l.value : l.raw) + u'\n';
    };
    put(FHead);
    for (const auto& s : FSections) {
        out += u'[' + s.name + QStringLiteral("]\n");
        put(s.lines);
    }
    return out.toUtf8();
}

TIniFile::Section* TIniFile::FindSection(const QString& name) {
    // Names are read trimmed from the file, so they are looked up trimmed.
    const QString wanted = name.trimmed();
    for (auto& s : FSections)
        if (s.name.compare(wanted, Qt::CaseInsensitive) == 0) return &s;
    return nullptr;
}

const TIniFile::Section* TIniFile::FindSection(const QString& name) const {
    return const_cast<TIniFile*>(this)->FindSection(name);
}

const TIniFile::Line* TIniFile::FindKey(const QString& section, const QString& ident) const {
    // Keys are read and written trimmed, so they are looked up trimmed.
    const QString key = ident.trimmed();
    if (const Section* s = FindSection(section))
        for (const auto& l : s->lines)
            if (l.entry && l.key.compare(key, Qt::CaseInsensitive) == 0) return &l;
    return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& ident, const QString& def) {
    const Line* l = FindKey(section, ident);
    const QString text = l ? l->value.trimmed() : def;
    NoteRead(section.trimmed(), ident.trimmed(), l ? text : def.trimmed());
    return text;
}

void TIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    // Nothing may be written that would read back as something else (UTF-8 has no
    // spelling for half a surrogate pair).
    auto breaks = [](const QString& s) {
        return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar()) || !s.isValidUtf16();
    };
    const QString key = ident.trimmed();
    if (breaks(section) || section.contains(u']') || breaks(ident) || ident.contains(u'=') ||
        key.startsWith(u'[') || key.startsWith(u';') || breaks(value))
        WriteFailed();
    const QString name = section.trimmed();
    // A value left as it was is no change of ours: another copy's newer value stays.
    if (const Line* l = FindKey(name, key); l && l->value == value) return;
    const bool own = OwnChange(name, key, value.trimmed());
    Change([this, section = name, ident = key, value, own] {
        Section* s = FindSection(section);
        if (!s) {
            FSections.push_back({section, {}});
            s = &FSections.back();
        }
        auto last = s->lines.end();
        for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
            if (!it->entry) continue;
            if (it->key.compare(ident, Qt::CaseInsensitive) == 0) {
                if (!own) return;
                it->value = value;
                it->changed = true;
                return;
            }
            last = it + 1;
        }
        Line l;
        l.entry = true;
        l.key = ident;
        l.value = value;
        l.changed = true;
        s->lines.insert(last, std::move(l));
    });
}

void TIniFile::EraseSection(const QString& section) {
    Change([this, section = section.trimmed()] {
        std::erase_if(FSections,
                      [&](const Section& s) { return s.name.compare(section, Qt::CaseInsensitive) == 0; });
    });
}

void TIniFile::NoteUnchanged(const QString& section, const QString& ident, const QString& text) {
    NoteRead(section.trimmed(), ident.trimmed(), text.trimmed());
}

bool TIniFile::SectionExists(const QString& section) const {
    return FindSection(section) != nullptr;
}

bool TIniFile::ValueExists(const QString& section, const QString& ident) const {
    return FindKey(section, ident) != nullptr;
}

QStringList TIniFile::ReadSections() const {
    QStringList r;
    for (const auto& s : FSections)
        r << s.name;
    return r;
}

QStringList TIniFile::ReadSection(const QString& section) const {
    QStringList keys;
    if (const Section* s = FindSection(section))
        for (const auto& l : s->lines)
            if (l.entry) keys << l.key;
    return keys;
}
