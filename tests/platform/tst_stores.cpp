// The registry and INI stores: file format, escaping, case, other value types,
// atomic writes, merging with another copy, and files that cannot be read.
#include "TestMain.h"
#include "Watchdog.h"

#include "IniFiles.h"
#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>

#include <climits>
#include <condition_variable>
#include <mutex>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QString Read(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

void Write(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QStringList FilesBeside(const QString& path) {
    return QFileInfo(path).dir().entryList(QDir::Files, QDir::Name);
}

mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Opens the hive, reads a value and closes it, as a save or restore does; a failure
// goes to the application's report, as the placement component hands it on.
void UseHive(const QString& change = {}) {
    try {
        TRegIniFile reg("Software\\tst");
        reg.ReadString("K", "V", "");
        if (!change.isEmpty()) reg.WriteString("K", "V", change);
        reg.UpdateFile();
    } catch (...) {
        Application->HandleException(std::current_exception());
    }
}

// A hive of `keys` keys with two values each, and one key with `values` values.
QByteArray BigHive(int keys, int values) {
    QByteArray text = "Windows Registry Editor Version 5.00\n\n";
    for (int i = 0; i < keys; ++i)
        text += "[HKEY_CURRENT_USER\\Software\\Many\\Key" + QByteArray::number(i) + "]\n\"A\"=\"" +
                QByteArray::number(i) + "\"\n\"B\"=\"b\"\n\n";
    text += "[HKEY_CURRENT_USER\\Software\\Wide]\n";
    for (int i = 0; i < values; ++i)
        text += "\"V" + QByteArray::number(i) + "\"=\"" + QByteArray::number(i) + "\"\n";
    return text;
}

// Another program holding the store's lock until released (or for a minute at most).
class LockHolder {
public:
    explicit LockHolder(const QString& lockFile) {
        QDir().mkpath(QFileInfo(lockFile).absolutePath());
        const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        FHeld = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
        FThread = std::thread([this, fd] {
            std::unique_lock lock(FMutex);
            FWake.wait_for(lock, std::chrono::minutes(1), [this] { return FReleased; });
            if (fd >= 0) ::close(fd);
        });
    }
    ~LockHolder() { Release(); }
    bool Held() const { return FHeld; }
    void Release() {
        {
            const std::lock_guard lock(FMutex);
            FReleased = true;
        }
        FWake.notify_all();
        if (FThread.joinable()) FThread.join();
    }

private:
    bool FHeld = false, FReleased = false;
    std::mutex FMutex;
    std::condition_variable FWake;
    std::thread FThread;
};

} // namespace

class TstStores : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    QString hive;

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        hive = TRegIniFile::HivePath();
        QFile::remove(QFileInfo(hive).absolutePath()); // a case may leave a file there
        QDir(QFileInfo(hive).absolutePath()).removeRecursively();
        QFile::remove(TIniFile::FilePath("test.ini"));
    }
    void cleanup() {
        env.reset();
        TStoreFile::SetLockWait(std::chrono::seconds(3));
    }

    void registryFileIsTheEditorsExportFormat() {
        QVERIFY(hive.endsWith("/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName() +
                              "/registry.reg"));
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("\\Software\\Tandor\\Forms", "Path", "C:\\dir \"quoted\" äöü €");
            reg.WriteInteger("\\Software\\Tandor\\Forms", "Count", -12);
            reg.WriteString("Sub", "Empty", "");
            reg.UpdateFile();
        }
        QCOMPARE(Read(hive), QStringLiteral("Windows Registry Editor Version 5.00\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Tandor\\Forms]\n"
                                            "\"Path\"=\"C:\\\\dir \\\"quoted\\\" äöü €\"\n"
                                            "\"Count\"=\"-12\"\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\tst]\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\tst\\Sub]\n"
                                            "\"Empty\"=\"\"\n\n"));
        TRegIniFile again("Software\\tst");
        QCOMPARE(again.ReadString("\\Software\\Tandor\\Forms", "Path", "x"), "C:\\dir \"quoted\" äöü €");
        QCOMPARE(again.ReadInteger("\\Software\\Tandor\\Forms", "Count", 0), -12);
        QCOMPARE(again.ReadString("Sub", "Empty", "x"), QString());
        QCOMPARE(again.ReadString("Sub", "Missing", "dflt"), "dflt");
        QCOMPARE(again.ReadString("NoSuchKey", "Empty", "dflt"), "dflt");
    }

    void keysAndNamesIgnoreCaseAndKeepTheirs() {
        {
            TRegIniFile reg("Software\\Tst");
            reg.WriteString("\\Software\\Mixed\\Case", "Value", "1");
            reg.WriteString("\\SOFTWARE\\mixed\\CASE", "VALUE", "2");
            reg.UpdateFile();
        }
        TRegIniFile reg("software\\tst");
        QCOMPARE(reg.ReadString("\\software\\MIXED\\case", "value", ""), "2");
        const QString text = Read(hive);
        QVERIFY(text.contains("[HKEY_CURRENT_USER\\Software\\Mixed\\Case]\n\"Value\"=\"2\"\n"));
        QCOMPARE(text.count("[HKEY_CURRENT_USER\\Software\\Tst]"), 1);
        QVERIFY(!text.contains("SOFTWARE"));
    }

    void textWithLineBreaksAndOtherTypesRoundTrip() {
        // With a byte-order mark, as editors may save it.
        Write(hive, "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                    "\"Number\"=dword:0000002a\r\n"
                    "\"Blob\"=hex:01,02,03,\\\r\n  04,05\r\n"
                    "\"Wide\"=hex(1):48,00,69,00,00,00\r\n"
                    "\"Expand\"=hex(2):41,00,00,00\r\n"
                    "\"Twice\"=\"first\"\r\n\"twice\"=\"later\"\r\n"
                    "@=\"default\"\r\n\r\n"
                    "[HKEY_LOCAL_MACHINE\\Kept]\r\n\r\n");
        {
            TRegIniFile reg("Software\\tst");
            QCOMPARE(reg.ReadString("\\Software\\Other", "Wide", ""), "Hi");
            QCOMPARE(reg.ReadString("\\Software\\Other", "Expand", ""), "A");
            QCOMPARE(reg.ReadString("\\Software\\Other", "Twice", ""), "later"); // the later line wins
            QCOMPARE(reg.ReadString("\\Software\\Other", "", ""), "default");
            for (const char* name : {"Number", "Blob"}) {
                try {
                    reg.ReadString("\\Software\\Other", name, "");
                    QFAIL("a value that is not text reads as text");
                } catch (const ERegistryException& e) {
                    QCOMPARE(e.Message(), QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
                }
            }
            QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.ReadInteger("\\Software\\Other", "Number", 0));
            reg.WriteString("\\Software\\Other", "Lines", "one\ntwo\r\n");
            reg.UpdateFile();
        }
        const QString text = Read(hive);
        QVERIFY(text.contains("\"Number\"=dword:0000002a\n\"Blob\"=hex:01,02,03,\\\n  04,05\n"));
        QVERIFY(text.contains("[HKEY_LOCAL_MACHINE\\Kept]"));
        QCOMPARE(text.count("wice\"="), 1);
        QVERIFY(text.contains("\"Lines\"=hex(1):"));
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("\\Software\\Other", "Lines", ""), "one\ntwo\r\n");
    }

    void halvesOfSurrogatePairsComeBackOrAreRefused() {
        // UTF-8 cannot spell half a pair: such text goes in bytes, such names are refused.
        const QString halves = QChar(0xD800) + QStringLiteral("x") + QChar(0xDC00);
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("K", "Halves", halves);
            QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.WriteString("K", halves, "v"));
            QVERIFY_THROWS_EXCEPTION(ERegistryException, reg.WriteString("K\\" + halves, "V", "v"));
            reg.UpdateFile();
        }
        QVERIFY(Read(hive).contains("\"Halves\"=hex(1):00,d8,78,00,00,dc,00,00\n"));
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "Halves", ""), halves);

        TIniFile ini("test.ini");
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.WriteString("S", "K", halves));
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.WriteString("S", halves, "v"));
        QVERIFY_THROWS_EXCEPTION(EIniFileException, ini.WriteString(halves, "K", "v"));
    }

    void valueNamesAndKeysAreListed() {
        Write(hive, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\tst]\n"
                    "\"B\"=\"1\"\n\"a\"=dword:00000001\n@=\"d\"\n\n[HKEY_LOCAL_MACHINE\\Other]\n\n");
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadSection(""), QStringList({"B", "a", ""}));
        QCOMPARE(reg.ReadSection("Missing"), QStringList());
        QCOMPARE(reg.ReadSection("\\\\bad"), QStringList());
        QCOMPARE(reg.KeyPaths(),
                 QStringList({"HKEY_CURRENT_USER\\Software\\tst", "HKEY_LOCAL_MACHINE\\Other"}));
        TIniFile ini("test.ini");
        ini.WriteString("S", "One", "1");
        ini.WriteString("s", "Two", "2");
        QCOMPARE(ini.ReadSection("S"), QStringList({"One", "Two"}));
        QCOMPARE(ini.ReadSection("T"), QStringList());
    }

    void malformedKeyPathsAndNamesAreRefused() {
        TRegIniFile reg("Software\\tst");
        try {
            reg.WriteString("\\Software\\\\Twice", "V", "1");
            QFAIL("an empty key name was accepted");
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), QStringLiteral("Erzeugung von Schlüssel \\Software\\\\Twice misslungen"));
        }
        try {
            reg.WriteString("Key", "Bad\nName", "1");
            QFAIL("a value name with a line break was accepted");
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), QStringLiteral("Konnte Daten für 'Bad\nName' nicht setzen"));
        }
        QCOMPARE(reg.ReadString("\\Software\\\\Twice", "V", "dflt"), "dflt");
    }

    void erasingAKeyTakesItsSubkeysOnly() {
        TRegIniFile reg("Software\\tst");
        reg.WriteString("\\A\\B", "V", "1");
        reg.WriteString("\\A\\B\\C", "V", "2");
        reg.WriteString("\\A\\BC", "V", "3");
        reg.EraseSection("\\a\\b");
        QVERIFY(!reg.KeyExists("\\A\\B\\C"));
        QVERIFY(!reg.ValueExists("\\A\\B", "V"));
        QCOMPARE(reg.ReadString("\\A\\BC", "V", ""), "3");
    }

    void integersTakeHexadecimalAndFallBackToTheDefault() {
        TRegIniFile reg("Software\\tst");
        const std::pair<const char*, int> cases[] = {{"12", 12},
                                                     {"-7", -7},
                                                     {"0x1F", 31},
                                                     {"0X1F", 31},
                                                     {"$ff", 255},
                                                     {"$FFFFFFFF", -1},
                                                     {"12abc", 99},
                                                     {"", 99},
                                                     {"99999999999", 99},
                                                     {"2147483648", 99},
                                                     {"-$80000000", INT_MIN},
                                                     {"-2147483648", INT_MIN}};
        for (const auto& [text, expected] : cases) {
            reg.WriteString("K", "I", text);
            QCOMPARE(reg.ReadInteger("K", "I", 99), expected);
        }
        QCOMPARE(reg.ReadInteger("K", "Missing", 5), 5);
    }

    void nothingChangedWritesNothing() {
        {
            TRegIniFile reg("Software\\tst");
            reg.UpdateFile();
        }
        QVERIFY(QFileInfo::exists(hive)); // the base key is made on opening
        const QDateTime before = QFileInfo(hive).lastModified();
        const ino_t inode = [&] {
            struct stat st {};
            ::stat(QFile::encodeName(hive).constData(), &st);
            return st.st_ino;
        }();
        {
            TRegIniFile reg("Software\\tst");
            QCOMPARE(reg.ReadString("K", "V", "x"), "x");
            reg.EraseSection("NotThere"); // a change that comes to nothing
        }
        struct stat st {};
        ::stat(QFile::encodeName(hive).constData(), &st);
        QCOMPARE(st.st_ino, inode);
        QCOMPARE(QFileInfo(hive).lastModified(), before);
    }

    void aFailedWriteKeepsTheOldFileAndSaysSo() {
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("K", "V", "old");
        }
        // The lock cannot be taken: nothing may be written then.
        QFile::remove(hive + ".lock");
        QVERIFY(QDir().mkpath(hive + ".lock"));
        TRegIniFile reg("Software\\tst");
        reg.WriteString("K", "V", "new");
        try {
            reg.UpdateFile();
            QFAIL("a write without the lock succeeded");
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(hive));
        }
        QVERIFY(Read(hive).contains("\"V\"=\"old\""));

        // The write itself fails part-way (the file size limit): no temporary file is left.
        QVERIFY(QDir().rmdir(hive + ".lock"));
        TRegIniFile big("Software\\tst");
        big.WriteString("K", "V", QString(1 << 20, u'x'));
        {
            rlimit limit{};
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
            const rlimit before = limit;
            const auto handler = ::signal(SIGXFSZ, SIG_IGN);
            const auto restore = qScopeGuard([&] {
                ::setrlimit(RLIMIT_FSIZE, &before);
                ::signal(SIGXFSZ, handler);
            });
            limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 64 << 10);
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
            QVERIFY_THROWS_EXCEPTION(ERegistryException, big.UpdateFile());
        }
        QCOMPARE(FilesBeside(hive), QStringList({"registry.reg", "registry.reg.lock"}));
        QVERIFY(Read(hive).contains("\"V\"=\"old\""));
    }

    void theFileIsReplacedNotRewritten() {
        auto inode = [&] {
            struct stat st {};
            ::stat(QFile::encodeName(hive).constData(), &st);
            return st.st_ino;
        };
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("K", "V", "1");
        }
        const ino_t before = inode();
        TRegIniFile reg("Software\\tst");
        reg.WriteString("K", "V", "2");
        reg.UpdateFile();
        QVERIFY(inode() != before);
        QCOMPARE(FilesBeside(hive), QStringList({"registry.reg", "registry.reg.lock"}));
    }

    void twoCopiesKeepEachOthersValues() {
        TRegIniFile first("Software\\tst");
        TRegIniFile second("Software\\tst");
        first.WriteString("\\Shared", "FromFirst", "1");
        first.WriteString("\\Shared", "Both", "first");
        second.WriteString("\\Shared", "FromSecond", "2");
        second.WriteString("\\Shared", "Both", "second");
        second.WriteString("\\OnlySecond", "V", "x");
        first.UpdateFile();
        second.UpdateFile();
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("\\Shared", "FromFirst", ""), "1");
        QCOMPARE(reg.ReadString("\\Shared", "FromSecond", ""), "2");
        QCOMPARE(reg.ReadString("\\Shared", "Both", ""), "second"); // the later close wins
        QCOMPARE(reg.ReadString("\\OnlySecond", "V", ""), "x");
    }

    void concurrentWritersLoseNothing() {
        // Each writer reads, changes and writes the file many times over; only the
        // lock keeps one writer's merge from overwriting the other's values.
        auto writer = [](const QString& name) {
            for (int i = 0; i < 40; ++i) {
                TRegIniFile reg("Software\\tst");
                reg.WriteString("\\Race", name + QString::number(i), QString::number(i));
                reg.UpdateFile();
            }
        };
        std::thread a(writer, QStringLiteral("a")), b(writer, QStringLiteral("b"));
        a.join();
        b.join();
        TRegIniFile reg("Software\\tst");
        for (int i = 0; i < 40; ++i) {
            QCOMPARE(reg.ReadString("\\Race", "a" + QString::number(i), ""), QString::number(i));
            QCOMPARE(reg.ReadString("\\Race", "b" + QString::number(i), ""), QString::number(i));
        }
    }

    void anUnreadableFileIsMovedAsideReportedAndReplaced() {
        const QByteArray broken =
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\X]\n\"V\"=\"open\n";
        Write(hive, broken);
        {
            TRegIniFile reg("Software\\tst");
            QCOMPARE(reg.ReadString("\\X", "V", "dflt"), "dflt");
            reg.WriteString("\\X", "V", "fresh");
        }
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(env->errors[0].contains(hive));
        const QStringList aside = FilesBeside(hive).filter(".bad-");
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(hive).absolutePath() + "/" + aside[0]);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), broken);
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("\\X", "V", ""), "fresh");
        QCOMPARE(env->errors.size(), 1); // reported once

        // Damaged again within the same second: no copy set aside before is overwritten.
        const QString dir = QFileInfo(hive).absolutePath() + "/";
        const QDateTime now = QDateTime::currentDateTime();
        QStringList earlier;
        for (int s = 0; s < 3; ++s) // every second the next set-aside may fall in
            earlier << dir + "registry.reg.bad-" + now.addSecs(s).toString("yyyyMMdd-hhmmss");
        for (const QString& path : earlier)
            Write(path, "earlier");
        const qsizetype count = FilesBeside(hive).filter(".bad-").size();
        Write(hive, broken);
        TRegIniFile("Software\\tst").UpdateFile();
        QCOMPARE(FilesBeside(hive).filter(".bad-").size(), count + 1);
        for (const QString& path : earlier)
            QCOMPARE(Read(path), "earlier");
    }

    void whatCountsAsUnreadable_data() {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\X]\n");
        QTest::newRow("value before any key")
            << QByteArray("Windows Registry Editor Version 5.00\n\"V\"=\"1\"\n");
        QTest::newRow("unknown type")
            << QByteArray("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n"
                          "\"V\"=qword:1\n");
        QTest::newRow("bad dword") << QByteArray(
            "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n"
            "\"V\"=dword:12\n");
        QTest::newRow("not UTF-8") << QByteArray(
            "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\\xff]\n");
        QTest::newRow("delete marker")
            << QByteArray("Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\X]\n");
        QTest::newRow("cut-off hex") << QByteArray(
            "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n"
            "\"V\"=hex:01,02,\\\n");
    }
    void whatCountsAsUnreadable() {
        QFETCH(QByteArray, data);
        Write(hive, data);
        TRegIniFile reg("Software\\tst");
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(!QFileInfo::exists(hive));
    }

    void bigByteValuesAreReadNotThrownAway() {
        // Text with a line break is written as bytes, six characters per letter.
        const QString text = QString(100000, u'x') + u'\n';
        QByteArray blob = "\"Blob\"=hex:00";
        for (int i = 1; i < 1000000; ++i)
            blob += i % 20 ? ",7f" : ",\\\n  7f";
        Write(hive, "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Other]\n" + blob + "\n");
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("K", "Text", text);
        }
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "Text", ""), text);
        QVERIFY(env->errors.isEmpty());
        QVERIFY(Read(hive).contains(QString::fromLatin1(blob)));
    }

    void aValueLeftAsItWasKeepsAnotherCopysChange() {
        {
            TRegIniFile reg("Software\\tst");
            reg.WriteString("K", "Text", "old");
            reg.WriteString("K", "Language", "German");
        }
        // Both copies save all their values; each changed only one of them.
        TRegIniFile first("Software\\tst"), second("Software\\tst");
        second.WriteString("K", "Text", "new");
        second.WriteString("K", "Language", "German");
        second.UpdateFile();
        first.WriteString("K", "Text", "old");
        first.WriteString("K", "Language", "English");
        first.UpdateFile();
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "Text", ""), "new");
        QCOMPARE(reg.ReadString("K", "Language", ""), "English");

        const QString ini = TIniFile::FilePath("test.ini");
        Write(ini, "[S]\nText=old\nLanguage=German\n");
        TIniFile a("test.ini"), b("test.ini");
        b.WriteString("S", "Text", "new");
        b.WriteString("S", "Language", "German");
        b.UpdateFile();
        a.WriteString("S", "Text", "old");
        a.WriteString("S", "Language", "English");
        a.UpdateFile();
        QCOMPARE(Read(ini), QStringLiteral("[S]\nText=new\nLanguage=English\n"));
    }

    void aFileThatIsNoRegularFileIsNeitherWaitedForNorTouched() {
        QVERIFY(QDir().mkpath(QFileInfo(hive).absolutePath()));
        QCOMPARE(::mkfifo(QFile::encodeName(hive).constData(), 0600), 0);
        {
            TFifoWatchdog watchdog(hive, std::chrono::seconds(10));
            UseHive("new");
            QVERIFY2(!watchdog.fired(), "opening the store waited for a writer on the FIFO");
        }
        QCOMPARE(env->errors, QStringList({QStringLiteral("Konnte Daten für '%1' nicht holen").arg(hive)}));
        QVERIFY(QFileInfo(hive).exists() && !QFileInfo(hive).isFile());
        QVERIFY(FilesBeside(hive).filter(".bad-").isEmpty());

        // A link to a device that never ends is not read without end either.
        QVERIFY(QFile::remove(hive));
        QVERIFY(QFile::link("/dev/zero", hive));
#ifdef GLYVEX_SANITIZED
        QSKIP("the endless-device case needs an address-space limit, which sanitizers rule out");
#else
        QVERIFY(RunBounded(
            [&] {
                try {
                    TRegIniFile reg("Software\\tst");
                } catch (const ERegistryException&) {
                    return true;
                }
                return false;
            },
            20, 256L << 20));
#endif
    }

    void aFileTooBigForSettingsIsSetAside() {
        QVERIFY(QDir().mkpath(QFileInfo(hive).absolutePath()));
        {
            QFile f(hive);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Windows Registry Editor Version 5.00\n\n");
            QVERIFY(f.resize(qint64(65) << 20)); // sparse: costs no disk
        }
        UseHive("fresh");
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(env->errors[0].contains("beiseitegelegt"));
        QCOMPARE(FilesBeside(hive).filter(".bad-").size(), 1);
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "V", ""), "fresh");
    }

    void aFileThatCannotBeReadOrWrittenIsToldOfOnce() {
        // A directory where the file should be: every use fails to read it.
        QVERIFY(QDir().mkpath(hive));
        for (int i = 0; i < 3; ++i)
            UseHive("new");
        QCOMPARE(env->errors, QStringList({QStringLiteral("Konnte Daten für '%1' nicht holen").arg(hive)}));
        QVERIFY(QFileInfo(hive).isDir());

        // A file where the settings directory should be: every save fails to write.
        QVERIFY(QDir().rmdir(hive));
        const QString dir = QFileInfo(hive).absolutePath();
        QVERIFY(QDir(dir).removeRecursively());
        Write(dir, "not a directory");
        for (int i = 0; i < 3; ++i)
            UseHive(QString::number(i));
        QCOMPARE(env->errors.size(), 2);
        QCOMPARE(env->errors[1], QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(hive));
        QCOMPARE(Read(dir), "not a directory");
    }

    void aReadOnlyFileIsLeftAsItIs() {
        UseHive("old");
        QVERIFY(QFile::setPermissions(hive, QFile::ReadOwner | QFile::ReadGroup));
        const QString before = Read(hive);
        UseHive("new");
        UseHive("newer");
        QCOMPARE(env->errors, QStringList({QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(hive)}));
        QCOMPARE(Read(hive), before);
        QCOMPARE(ModeOf(hive), mode_t(0440));
        // Writable again: saved, and the file keeps the permissions it was given.
        QVERIFY(QFile::setPermissions(hive, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        UseHive("new");
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "V", ""), "new");
        QCOMPARE(ModeOf(hive), mode_t(0604));
    }

    // Reading and saving cost the same per key and per value however many there are:
    // each key line and each value is found through an index, not by a pass over all.
    void manyKeysAndValuesCostTheSameEach() {
        auto costPerItem = [&](int n) {
            Write(hive, BigHive(n, n));
            const qint64 before = TRegIniFile::NameComparisons();
            TRegIniFile reg("Software\\tst");
            if (reg.ReadString("\\Software\\Many\\KEY" + QString::number(n - 1), "a", "") !=
                QString::number(n - 1))
                return -1.0;
            if (reg.ReadString("\\Software\\Wide", "v" + QString::number(n / 2), "") !=
                QString::number(n / 2))
                return -1.0;
            reg.WriteString("\\Software\\Wide", "New", "1");
            reg.UpdateFile();
            return double(TRegIniFile::NameComparisons() - before) / n;
        };
        const double small = costPerItem(500), big = costPerItem(20000);
        QVERIFY2(small > 0 && big > 0, "a value of the big hive read wrong");
        QVERIFY2(big < 4 && big < small * 1.5,
                 qPrintable(
                     QStringLiteral("names compared per item: %1 at 500, %2 at 20,000").arg(small).arg(big)));
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("\\Software\\Wide", "NEW", ""), "1");
        QCOMPARE(reg.ReadSection("\\Software\\Wide").size(), 20001);
        QCOMPARE(reg.KeyPaths().size(), 20000 + 2);
    }

    // Past a few values a key finds them through its index: the same names, ignoring case
    // (non-ASCII too), a later duplicate in the file replacing the earlier one, order kept.
    void keysWithManyValuesFindThemIgnoringCase() {
        QByteArray body =
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\tst\\Größe]\n";
        for (int i = 0; i < 12; ++i)
            body += "\"Ärger" + QByteArray::number(i) + "\"=\"" + QByteArray::number(i) + "\"\n";
        body += "\"ärger3\"=\"again\"\n";
        Write(hive, body);
        {
            TRegIniFile reg("Software\\tst");
            QCOMPARE(reg.ReadString("GRÖSSE", "ÄRGER3", ""), QString()); // ß folds to itself, not "ss"
            QCOMPARE(reg.ReadString("GRÖßE", "ÄRGER3", ""), "again");
            QCOMPARE(reg.ReadSection("größe").size(), 12);
            QVERIFY(reg.ValueExists("Größe", "ärger11"));
            reg.WriteString("größe", "ÄRGER11", "changed");
            reg.WriteString("größe", "Ärger12", "new");
            reg.UpdateFile();
        }
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("Größe", "ärger11", ""), "changed");
        QCOMPARE(reg.ReadSection("Größe").last(), "Ärger12");
        const QString text = Read(hive);
        QCOMPARE(text.count("Größe]"), 1);
        QVERIFY(text.contains("\"Ärger2\"=\"2\"\n\"ärger3\"=\"again\"\n\"Ärger4\""));
    }

    // Keys are written sorted step by step, ignoring case: a key before those below it.
    void keysAreWrittenInPathOrder() {
        TRegIniFile reg("Software\\tst");
        for (const char* key : {"\\A B", "\\a\\C", "\\A", "\\a_b\\x", "\\A\\b"})
            reg.WriteString(key, "V", "1");
        reg.UpdateFile();
        QStringList order;
        for (const QString& line : Read(hive).split(u'\n'))
            if (line.startsWith("[")) order << line;
        QCOMPARE(order, QStringList({"[HKEY_CURRENT_USER\\A]", "[HKEY_CURRENT_USER\\A\\b]",
                                     "[HKEY_CURRENT_USER\\a\\C]", "[HKEY_CURRENT_USER\\A B]",
                                     "[HKEY_CURRENT_USER\\a_b\\x]", "[HKEY_CURRENT_USER\\Software\\tst]"}));
    }

    // A save parses the file again only when another copy changed it since it was read.
    void aSaveParsesOnlyWhatAnotherCopyChanged() {
        Write(hive, BigHive(2000, 0));
        TRegIniFile first("Software\\tst"), second("Software\\tst");
        qint64 before = TRegIniFile::NameComparisons();
        first.WriteString("K", "V", "first");
        first.UpdateFile();
        QVERIFY(TRegIniFile::NameComparisons() - before < 20);
        before = TRegIniFile::NameComparisons();
        second.WriteString("K", "W", "second");
        second.UpdateFile(); // the file is first's now: read again, both values kept
        QVERIFY(TRegIniFile::NameComparisons() - before >= 2000);
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "V", ""), "first");
        QCOMPARE(reg.ReadString("K", "W", ""), "second");
    }

    // Another program holding the lock (a stopped copy) delays a save a moment at most:
    // the save is given up with a message naming the file, the file stays as it was, and
    // a later save in the same run does not wait again. Opening never waits, and the
    // close of a restore leaves the file alone quietly.
    void aLockHeldByAnotherProgramGivesTheSaveUp() {
        UseHive("old");
        TStoreFile::SetLockWait(std::chrono::milliseconds(200));
        LockHolder holder(hive + ".lock");
        QVERIFY(holder.Held());
        UseHive("new");
        UseHive("newer");
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(env->errors[0].contains(hive));
        QVERIFY(env->errors[0].contains("anderen Programm gesperrt"));
        {
            TRegIniFile reg("Software\\tst");
            QCOMPARE(reg.ReadString("K", "V", ""), "old");
            reg.WriteString("K", "V", "restored");
            reg.UpdateFile(TStoreFile::TLockWait::None);
        }
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(Read(hive).contains("\"V\"=\"old\""));
        holder.Release();
        UseHive("after");
        TRegIniFile reg("Software\\tst");
        QCOMPARE(reg.ReadString("K", "V", ""), "after");
        QCOMPARE(env->errors.size(), 1);
    }

    // A link in place of the lock file is not followed (it would make a file where it
    // points): the save fails like one with any other unusable store file.
    void aLinkAsTheLockFileIsNotFollowed() {
        UseHive("old");
        const QString target = QFileInfo(hive).absolutePath() + "/elsewhere";
        QVERIFY(QFile::remove(hive + ".lock"));
        QVERIFY(QFile::link(target, hive + ".lock"));
        UseHive("new");
        QCOMPARE(env->errors, QStringList({QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(hive)}));
        QVERIFY(!QFileInfo::exists(target));
        Write(target, "theirs");
        UseHive("newer");
        QCOMPARE(Read(target), "theirs");
        QVERIFY(Read(hive).contains("\"V\"=\"old\""));
    }

    // What an interrupted save left (its temporary file) goes with the next save; files
    // that only look alike stay.
    void temporaryFilesOfInterruptedSavesAreRemoved() {
        UseHive("old");
        const QString dir = QFileInfo(hive).absolutePath() + "/";
        for (const char* name : {"registry.reg.tmp-Ab3xYz", "registry.reg.tmp-short",
                                 "registry.reg.tmp-toolong", "other.reg.tmp-Ab3xYz"})
            Write(dir + name, "Windows Registry Editor Version 5.00\n");
        QVERIFY(QDir().mkpath(dir + "registry.reg.tmp-dirdir"));
        UseHive("new");
        QCOMPARE(FilesBeside(hive), QStringList({"other.reg.tmp-Ab3xYz", "registry.reg", "registry.reg.lock",
                                                 "registry.reg.tmp-short", "registry.reg.tmp-toolong"}));
        QVERIFY(QFileInfo(dir + "registry.reg.tmp-dirdir").isDir());
        QVERIFY(env->errors.isEmpty());
    }

    void iniFilesKeepWhatTheyDoNotUnderstand() {
        const QString path = TIniFile::FilePath("test.ini");
        QCOMPARE(path, QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/test.ini");
        Write(path, "; comment\n[Forms]\nFlags = 0\nno equals sign here\n\n[Other]\nA=1\n");
        {
            TIniFile ini("test.ini");
            QCOMPARE(ini.ReadString("forms", "FLAGS", "x"), "0");
            QCOMPARE(ini.ReadString("Forms", "no equals sign here", "x"), "x");
            ini.WriteString("FORMS", "NormPos", "1,2,3,4");
            ini.WriteString("Other", "a", "  two  ");
            ini.WriteString("New", "Key", "C:\\path \"as is\"");
            ini.UpdateFile();
        }
        QCOMPARE(Read(path),
                 QStringLiteral("; comment\n[Forms]\nFlags = 0\nNormPos=1,2,3,4\nno equals sign here\n\n"
                                "[Other]\nA=  two  \n[New]\nKey=C:\\path \"as is\"\n"));
        TIniFile ini("test.ini");
        QCOMPARE(ini.ReadString("Other", "A", ""), "two");
        QCOMPARE(ini.ReadString("New", "Key", ""), "C:\\path \"as is\"");
        ini.EraseSection("other");
        QCOMPARE(ini.ReadSections(), QStringList({"Forms", "New"}));
    }

    void iniSectionsAndKeysCompareWithoutSurroundingBlanks() {
        const QString path = TIniFile::FilePath("test.ini");
        {
            TIniFile ini("test.ini");
            ini.WriteString(" Forms ", " Key ", "v");
            ini.UpdateFile();
        }
        QCOMPARE(Read(path), QStringLiteral("[Forms]\nKey=v\n"));
        TIniFile ini("test.ini");
        QCOMPARE(ini.ReadString(" Forms ", " Key ", "x"), "v");
        QVERIFY(ini.ValueExists("forms", "key\t"));
        ini.EraseSection(" FORMS");
        QVERIFY(!ini.SectionExists("Forms"));
    }

    void byteOrderMarksAtTheStartOfAnIniFileAreMarks() {
        // However many: a first line kept with one would lose it when written back.
        Write(TIniFile::FilePath("test.ini"), "\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF[S]\nK=v\n");
        TIniFile ini("test.ini");
        QCOMPARE(ini.ReadSections(), QStringList({"S"}));
        QCOMPARE(ini.ReadString("S", "K", "x"), "v");
    }

    void iniFilesRefuseWhatWouldReadBackDifferently() {
        TIniFile ini("test.ini");
        for (auto [section, key, value] :
             {std::tuple{"S", "K", "two\nlines"}, {"S]", "K", "v"}, {"S", "K=", "v"}, {"S", "[K", "v"}}) {
            try {
                ini.WriteString(section, key, value);
                QFAIL("an INI write that would not read back was accepted");
            } catch (const EIniFileException& e) {
                QVERIFY(e.Message().contains("test.ini"));
            }
        }
        QVERIFY(!ini.SectionExists("S"));
    }

    void iniFilesMergeLikeTheRegistry() {
        TIniFile first("test.ini"), second("test.ini");
        first.WriteString("S", "A", "1");
        second.WriteString("S", "B", "2");
        second.EraseSection("Gone");
        first.UpdateFile();
        second.UpdateFile();
        TIniFile ini("test.ini");
        QCOMPARE(ini.ReadString("S", "A", ""), "1");
        QCOMPARE(ini.ReadString("S", "B", ""), "2");
    }
};

QTEST_MAIN(TstStores)
#include "tst_stores.moc"
