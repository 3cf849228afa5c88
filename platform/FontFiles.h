// Font files opened for one run of the program: checked, read once and handed to Qt's font
// database and to the face-metrics index. Nothing is installed or copied.
#pragma once

#include <QString>
#include <QStringList>

class TFaceMetrics;

enum class TFontFileError { None, Missing, Unreadable, NotRegular, TooLarge, NotAFont };

struct TOpenedFontFile {
    QString path; // absolute
    TFontFileError error = TFontFileError::None;
    QStringList families; // Qt's names for its faces, in the file's order; empty on error
};

// The largest file taken; real fonts, big CJK collections included, stay far below it.
constexpr qint64 kMaxFontFileBytes = qint64(256) * 1024 * 1024;

// Opens one font file for this run. Only a regular file is opened at all (FreeType blocks
// reading a FIFO, and a device may never end); it is read once, non-blocking and up to
// kMaxFontFileBytes, and Qt gets those bytes, never the path. The index, if given, learns
// the file's faces.
TOpenedFontFile OpenFontFile(const QString& path, TFaceMetrics* metrics);
