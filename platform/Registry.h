// The registry store. The per-user hive is one UTF-8 text file in the registry
// editor's export format ($XDG_CONFIG_HOME/<program>/registry.reg):
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Tandor\Glyvex\Forms]
//   "Flags"="0"
//
// Key paths and value names compare ignoring case and keep the case they were
// made with; keys without values are kept. Values of other types ("dword:",
// "hex...:") are kept as they are and read as "not text". Text holding line
// breaks or other control characters, or half of a surrogate pair, is written as
// "hex(1):" (the registry's text type spelt in bytes), so every text comes back
// as written.
#pragma once

#include "IniFiles.h"

GLYVEX_EXCEPTION(ERegistryException, Exception)

class TRegIniFile : public TCustomIniFile {
    Q_OBJECT
public:
    // Opens the hive and the base key below HKEY_CURRENT_USER, creating it when
    // missing. Sections beginning with "\" are taken from HKEY_CURRENT_USER,
    // others below the base key.
    explicit TRegIniFile(const QString& baseKey);
    ~TRegIniFile() override;

    // A value that exists but is not text raises "Ungültiger Datentyp für '%s'".
    QString ReadString(const QString& section, const QString& ident, const QString& def) override;
    void WriteString(const QString& section, const QString& ident, const QString& value) override;
    // Deletes the key with every key below it.
    void EraseSection(const QString& section) override;
    void NoteUnchanged(const QString& section, const QString& ident, const QString& text) override;

    bool KeyExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& ident) const;
    // The names of a key's values in their order; none when the key is absent.
    QStringList ReadSection(const QString& section) const;
    // Every key of the hive by its full path, as kept (keys outside HKEY_CURRENT_USER too).
    QStringList KeyPaths() const;
    // The full path of the base key ("HKEY_CURRENT_USER\...").
    QString CurrentPath() const { return FBase; }

    static QString HivePath();
    // Key paths and value names this thread's stores have compared or looked up by
    // their index: what reading and writing cost, counted for checks of how they scale.
    static qint64 NameComparisons();

protected:
    bool Parse(const QByteArray& data) override;
    QByteArray Serialize() const override;
    void Clear() override;
    [[noreturn]] void ReadFailed() const override;
    [[noreturn]] void WriteFailed() const override;
    [[noreturn]] void Raise(const QString& message) const override;

private:
    struct Value {
        enum Kind { Text, HexText, Other } kind = Text;
        QString name;
        QString text; // Text
        QString raw;  // HexText, Other: the data after "=", as read
    };
    struct Key {
        QString path;
        std::vector<Value> values;
        // Positions in values by folded name, once there are more than a few.
        QHash<QString, size_t> byName;
        Value* Find(const QString& name);
        const Value* Find(const QString& name) const;
        // Replaces the value of the same name, or adds it at the end.
        void Put(Value v);
    };
    // The text of a text value (either spelling); false for other types and bad bytes.
    static bool TextOf(const Value& v, QString& text);
    // The full path of a section; raises the key error for a malformed path.
    QString KeyPath(const QString& section) const;
    Key* FindKey(const QString& path);
    const Key* FindKey(const QString& path) const;
    Key& CreateKey(const QString& path);
    // The index over FKeys after keys were taken out.
    void IndexKeys();
    QString FBase;
    // In the order they were made; found by folded path through FKeyIndex.
    std::vector<Key> FKeys;
    QHash<QString, size_t> FKeyIndex;
};
