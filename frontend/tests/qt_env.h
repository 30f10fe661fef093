// Test support: a QApplication for the whole test program, on the offscreen platform, and
// readable failure messages for Qt's text types.
#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>

class QApplication;

// The application object; created on first use with QT_QPA_PLATFORM=offscreen.
QApplication &TestApp();

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QByteArray &b, std::ostream *os)
{
    *os << '"' << b.toStdString() << "\" (hex " << b.toHex().toStdString() << ')';
}
