// The system's list of DOS device names (the serial ports among them).
#pragma once

#include <QByteArray>

// Every DOS device name, each ended by a zero byte, with one more zero byte at the end. Throws
// std::runtime_error with the system's message text when the list cannot be had.
QByteArray QueryDosDeviceNames();
