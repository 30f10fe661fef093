// DOS device names on Windows: QueryDosDeviceA with no device name, the buffer grown until the
// whole list fits.
#include "dos_devices.h"

#include "cmd.h"

#include <stdexcept>

#include <windows.h>

QByteArray QueryDosDeviceNames()
{
    DWORD size = 5120;
    for (;;) {
        QByteArray buffer(static_cast<qsizetype>(size), '\0');
        ::SetLastError(0);
        const DWORD count = ::QueryDosDeviceA(nullptr, buffer.data(), size);
        const DWORD error = ::GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            size = count != 0 ? count + 1024 : size + 1024;
            continue;
        }
        if (error != 0)
            throw std::runtime_error(SystemErrorText(error).toLocal8Bit().toStdString());
        buffer.truncate(static_cast<qsizetype>(count));
        return buffer;
    }
}
