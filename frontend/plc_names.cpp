#include "plc_names.h"

namespace plc_names {

namespace {

// Windows-1251, bytes 0x80 to 0xBF; 0xC0 to 0xFF are А to я in a row.
constexpr char16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};
constexpr char16_t kCp1251Letters = 0x0410;

char16_t Decode(unsigned char b)
{
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return static_cast<char16_t>(kCp1251Letters + (b - 0xC0));
    return kCp1251High[b - 0x80];
}

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

QString FromController(const QByteArray &cp1251)
{
    QString text;
    text.reserve(cp1251.size());
    for (const char ch : cp1251)
        text.append(QChar(Decode(static_cast<unsigned char>(ch))));
    return text;
}

bool ToController(const QString &text, QByteArray &cp1251)
{
    cp1251.clear();
    cp1251.reserve(text.size());
    for (const QChar c : text) {
        int found = -1;
        for (int b = 0; b < 256 && found < 0; ++b) {
            if (Decode(static_cast<unsigned char>(b)) == c.unicode())
                found = b;
        }
        if (found < 0)
            return false;
        cp1251.append(static_cast<char>(found));
    }
    return true;
}

TPlcName Listed(const QByteArray &bytes) { return {FromController(bytes), bytes}; }

QString PcForm(const TPlcName &name)
{
#ifdef _WIN32
    return QString::fromLocal8Bit(name.Bytes);
#else
    return name.Text;
#endif
}

bool ControllerForm(const QString &pcName, QByteArray &bytes, QString &error)
{
#ifdef _WIN32
    bytes = pcName.toLocal8Bit();
    const bool ok = QString::fromLocal8Bit(bytes) == pcName;
#else
    const bool ok = ToController(pcName, bytes);
#endif
    if (!ok)
        error = QStringLiteral("Имя файла \"%1\" содержит знаки, которых нет в кодировке имён "
                               "контроллера (Windows-1251). Переименуйте файл.")
                    .arg(Printable(pcName));
    return ok;
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
