// The controller's file names. The controller keeps them as Windows-1251 bytes; the front end's
// console program lists them as those very bytes, the window shows them decoded and sends the same
// bytes back, so that every name, however it is spelt, names exactly its own file.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One name of the controller list: the controller's own bytes and the text shown for them.
struct TPlcName {
    QString Text;
    QByteArray Bytes;
    bool operator==(const TPlcName &) const = default;
};
using TPlcNames = QList<TPlcName>;

namespace plc_names {

// Decodes Windows-1251 bytes (the one byte that code page leaves out, 0x98, becomes U+0098, so
// that no two names look alike).
QString FromController(const QByteArray &cp1251);

// Encodes a text in Windows-1251; false when the text holds a character that code page lacks.
bool ToController(const QString &text, QByteArray &cp1251);

// A listed name: its bytes and their decoded text.
TPlcName Listed(const QByteArray &bytes);

// The name of the PC file under which the front end's console program stores a controller file:
// on POSIX the decoded text (the file system speaks UTF-8), on Windows the same bytes read in the
// system's ANSI code page.
QString PcForm(const TPlcName &name);

// The controller's bytes for a PC file's name, as the console tool sends them: on POSIX the name
// in Windows-1251, on Windows its bytes in the ANSI code page. False, with error set (naming the
// file), when the name holds a character that has no such byte.
bool ControllerForm(const QString &pcName, QByteArray &bytes, QString &error);

// A controller file name is safe to join onto a PC folder and to put between double quotes on a
// command line when it is not empty, not "." or "..", and holds no path separator, drive colon,
// double quote or control character. Returns false and sets error (naming the file) otherwise.
bool CheckName(const QString &name, QString &error);

// A PC path is safe to put between double quotes on a command line when it holds no double quote
// and no control character; on POSIX also no backslash, and no colon in its name part, which the
// tool and the command line would take for separators. Returns false and sets error (naming the
// path) otherwise.
bool CheckPcPath(const QString &path, QString &error);

} // namespace plc_names
