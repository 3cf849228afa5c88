// Settings stores kept in text files: the shared file machinery and the INI store.
//
// A store reads its file once when it is opened and writes it once when it is
// closed. The write happens under an exclusive lock on a lock file beside it: the
// file is read again, this store's changes are replayed onto what is there now,
// and the result replaces the file atomically and durably (temporary file, sync,
// rename, sync of the directory). Two running copies thus never lose each other's
// values; where both changed the same value, the later close wins. A save waits for
// the lock a few seconds at most: a copy that is stopped while holding it must not
// freeze this one.
#pragma once

#include "Classes.h"

#include <QHash>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

GLYVEX_EXCEPTION(EIniFileException, Exception)

// The file half of a store: parsing and writing are the concrete store's.
class TStoreFile : public TObject {
    Q_OBJECT
public:
    explicit TStoreFile(QString path);
    ~TStoreFile() override;

    QString FileName() const { return FPath; }

    // How a save goes about a lock that another program holds.
    enum class TLockWait {
        Limited, // waits up to LockWait(), then gives the save up with the store's error
        None     // gives up at once and quietly: for writes nobody asked for
    };
    // Writes the changes made since opening (see above) and ends the store's
    // use. Does nothing when nothing was changed. Calling it again does nothing.
    void UpdateFile(TLockWait wait = TLockWait::Limited);

    // The longest a save waits for the lock. Once a save of a file has waited in
    // vain, later saves of that file in this run do not wait again.
    static std::chrono::milliseconds LockWait();
    static void SetLockWait(std::chrono::milliseconds wait);

protected:
    // Reads the file into the document; call from the concrete constructor.
    void Open();
    // Records a change: it is applied now and replayed onto the file's newest
    // contents when the store is closed.
    void Change(std::function<void()> change);

    // Parses file contents into the (cleared) document; false when the text
    // cannot be read as a whole.
    virtual bool Parse(const QByteArray& data) = 0;
    virtual QByteArray Serialize() const = 0;
    virtual void Clear() = 0;
    // Raises the store's error for a file that cannot be read or written.
    [[noreturn]] virtual void ReadFailed() const = 0;
    [[noreturn]] virtual void WriteFailed() const = 0;
    // Raises the store's error with a text of its own.
    [[noreturn]] virtual void Raise(const QString& message) const = 0;

private:
    // Reads the file into the document and gives its bytes; a missing file is empty
    // (no bytes). One that cannot be parsed is moved aside (kept), reported, and
    // counts as missing.
    std::optional<QByteArray> Load();
    // The same for bytes already read (status as ReadStoreFile gives it).
    std::optional<QByteArray> Take(int status, QByteArray data);
    // Raises the read or write error, marked as being about this file.
    [[noreturn]] void Failed(bool writing) const;
    QString FPath;
    std::vector<std::function<void()>> FJournal;
    // The bytes the document was last read from; none for no file.
    std::optional<QByteArray> FLoaded;
    bool FClosed = false;
};

// A store of text items in sections, as the placement helpers use it.
class TCustomIniFile : public TStoreFile {
    Q_OBJECT
public:
    using TStoreFile::TStoreFile;
    virtual QString ReadString(const QString& section, const QString& ident, const QString& def) = 0;
    virtual void WriteString(const QString& section, const QString& ident, const QString& value) = 0;
    virtual void EraseSection(const QString& section) = 0;
    // Decimal, "$" or "0x" hexadecimal; the default when absent or not a number.
    int ReadInteger(const QString& section, const QString& ident, int def);
    void WriteInteger(const QString& section, const QString& ident, int value);
    bool ReadBool(const QString& section, const QString& ident, bool def);
    void WriteBool(const QString& section, const QString& ident, bool value);

    // The texts a form last restored, by value (for an absent value, the default it
    // read with: what it went on holding): the common base when two copies' saves
    // meet. While one is set, every read is noted in it, and writing a value with the
    // very text noted for it is no change of this copy's: it is made only where the
    // value is missing, so a newer text that another copy stored since stays.
    using TBaseline = QHash<QString, QString>;
    void SetBaseline(TBaseline* baseline) { FBaseline = baseline; }
    // Notes a text this copy holds without having changed it (a form placed where its
    // design puts it, say): writing that very text is then no change of this copy's.
    virtual void NoteUnchanged(const QString& section, const QString& ident, const QString& text) = 0;

protected:
    // For the concrete stores; `where` is the section as the store names it.
    void NoteRead(const QString& where, const QString& ident, const QString& text);
    bool OwnChange(const QString& where, const QString& ident, const QString& text) const;

private:
    static QString BaselineKey(const QString& where, const QString& ident);
    TBaseline* FBaseline = nullptr;
};

// Profile-file semantics: [Section] lines and key=value lines; sections and keys
// compare ignoring case and surrounding blanks and keep the case they were first
// written with; values are stored verbatim and read with surrounding blanks
// removed. Other lines are kept as they are.
class TIniFile : public TCustomIniFile {
    Q_OBJECT
public:
    // A bare file name lives in the user's configuration directory.
    explicit TIniFile(const QString& fileName);
    ~TIniFile() override;

    QString ReadString(const QString& section, const QString& ident, const QString& def) override;
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    void EraseSection(const QString& section) override;
    void NoteUnchanged(const QString& section, const QString& ident, const QString& text) override;
    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& ident) const;
    QStringList ReadSections() const;
    // The keys of a section in their order (of its first occurrence).
    QStringList ReadSection(const QString& section) const;

    // Where a file name given to the store is kept.
    static QString FilePath(const QString& fileName);

protected:
    bool Parse(const QByteArray& data) override;
    QByteArray Serialize() const override;
    void Clear() override;
    [[noreturn]] void ReadFailed() const override;
    [[noreturn]] void WriteFailed() const override;
    [[noreturn]] void Raise(const QString& message) const override;

private:
    struct Line {
        QString key;   // key=value lines: the key, trimmed
        QString value; // and the value as stored
        QString raw;   // the line as read; written back unless changed
        bool entry = false;
        bool changed = false;
    };
    struct Section {
        QString name;
        std::vector<Line> lines;
    };
    Section* FindSection(const QString& name);
    const Section* FindSection(const QString& name) const;
    const Line* FindKey(const QString& section, const QString& ident) const;
    std::vector<Line> FHead; // lines before the first section
    std::vector<Section> FSections;
};

// Parses an integer the way the stores and the property encoding do: optional
// sign, decimal digits, or "$"/"0x" followed by hexadecimal digits.
bool StrToIntCheck(const QString& text, int& value);
