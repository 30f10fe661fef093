// Test support: a QApplication for the whole test program, on the offscreen platform.
#pragma once

class QApplication;

// The application object; created on first use with QT_QPA_PLATFORM=offscreen.
QApplication &TestApp();
