// The controller's file names as they pass through the console tool. The tool prints every text
// converted from code page 1251 to code page 866; the front end shows those names decoded from 866
// and, when it names a file back to the tool, sends the controller's own bytes again.
#pragma once

#include <QByteArray>
#include <QString>

namespace plc_names {

// Decodes code-page-866 bytes as the tool prints them.
QString FromConsole(const QByteArray &bytes);

// Encodes a text in code page 866; a character that 866 lacks becomes '?'.
QByteArray ToConsole(const QString &text);

// Undoes the tool's 1251-to-866 conversion of a byte string: 866 0x80-0xAF become 1251 0xC0-0xEF,
// 0xE0-0xEF become 0xF0-0xFF, 0xFC becomes 0xB9; every other byte stays as it is.
QByteArray ConsoleToController(const QByteArray &consoleBytes);

// The controller's own bytes for a name shown in the front end.
QByteArray ControllerBytes(const QString &shownName);

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
