// DOS device names on POSIX: the COM ports that the console tool's device map resolves, that is
// every $XDG_CONFIG_HOME/cabrix/dosdevices/com<n> link (HOME/.config without XDG_CONFIG_HOME)
// that points at something, and COM<n+1> for every /dev/ttyS<n> present.
#include "dos_devices.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdlib>
#include <set>

namespace {

QString DeviceMapFolder()
{
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty()) {
        const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
        if (home.isEmpty())
            return {};
        config = home + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/cabrix/dosdevices");
}

} // namespace

QByteArray QueryDosDeviceNames()
{
    std::set<unsigned> ports;
    const QString mapFolder = DeviceMapFolder();
    if (!mapFolder.isEmpty()) {
        static const QRegularExpression comLink(QStringLiteral("^com([0-9]{1,6})$"));
        const QDir map(mapFolder);
        for (const QString &entry : map.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
            const QRegularExpressionMatch m = comLink.match(entry);
            if (!m.hasMatch())
                continue;
            const unsigned n = m.captured(1).toUInt();
            if (n >= 1 && QFileInfo::exists(map.filePath(entry))) // follows the link
                ports.insert(n);
        }
    }
    static const QRegularExpression ttyS(QStringLiteral("^ttyS([0-9]{1,6})$"));
    for (const QString &entry : QDir(QStringLiteral("/dev")).entryList(QDir::System | QDir::Files)) {
        const QRegularExpressionMatch m = ttyS.match(entry);
        if (m.hasMatch())
            ports.insert(m.captured(1).toUInt() + 1);
    }

    QByteArray names;
    for (const unsigned n : ports) {
        names += "COM" + QByteArray::number(n);
        names += '\0';
    }
    names += '\0';
    return names;
}
