#include "plc_names.h"

namespace plc_names {

namespace {

// Code page 866, bytes 0x80 to 0xFF.
constexpr char16_t kCp866High[128] = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
    0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0,
};

QString Printable(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('?');
    }
    return shown;
}

} // namespace

QString FromConsole(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        text.append(b < 0x80 ? QChar(b) : QChar(kCp866High[b - 0x80]));
    }
    return text;
}

QByteArray ToConsole(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            bytes.append(static_cast<char>(c.unicode()));
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 128; ++i) {
            if (kCp866High[i] == c.unicode()) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        bytes.append(mapped);
    }
    return bytes;
}

QByteArray ConsoleToController(const QByteArray &consoleBytes)
{
    QByteArray bytes = consoleBytes;
    for (char &ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b <= 0xAF)
            ch = static_cast<char>(b + 0x40);
        else if (b >= 0xE0 && b <= 0xEF)
            ch = static_cast<char>(b + 0x10);
        else if (b == 0xFC)
            ch = static_cast<char>(0xB9);
    }
    return bytes;
}

QByteArray ControllerBytes(const QString &shownName)
{
    return ConsoleToController(ToConsole(shownName));
}

bool CheckName(const QString &name, QString &error)
{
    bool ok = !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..");
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') ||
            c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            ok = false;
    }
    if (!ok)
        error = QStringLiteral("Недопустимое имя файла в контроллере: \"%1\"").arg(Printable(name));
    return ok;
}

bool CheckPcPath(const QString &path, QString &error)
{
    bool ok = true;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            ok = false;
    }
#ifndef _WIN32
    // On POSIX a backslash is a folder separator to the console tool, and the command line is
    // split into folder and name at a colon too: a name holding either would name another file.
    const qsizetype name = path.lastIndexOf(QLatin1Char('/')) + 1;
    if (path.contains(QLatin1Char('\\')) || path.indexOf(QLatin1Char(':'), name) >= 0)
        ok = false;
#endif
    if (!ok)
        error = QStringLiteral("Недопустимое имя файла: \"%1\"").arg(Printable(path));
    return ok;
}

} // namespace plc_names
