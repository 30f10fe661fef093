// Every text the console tool shows, as Windows-1251 bytes fixed at compile time.
#pragma once

#include "text/cp1251.h"

namespace cabrix::msg {

// Help.
inline constexpr Cp1251Text kHelpTitle{"Утилита чтения записи файлов с КАРДУС ПЛК. Версия 1.00\n"};
inline constexpr Cp1251Text kHelpBuildTime{"Дата и время компиляции "};
inline constexpr Cp1251Text kHelpParameters{"Параметры:\n"};
inline constexpr Cp1251Text kHelpQuery{"\t/? - вызов справки\n"};
inline constexpr Cp1251Text kHelpTcp{
    "\t/TCPxxx.xxx.xxx.xxx - адрес контроллера для TCP/IP.\n\tНапример /TCP10.0.6.10\n"};
inline constexpr Cp1251Text kHelpCom{"\t/COMxx - последовательный порт\n"};
inline constexpr Cp1251Text kHelpUp{"\t/up - загрузка файлов на ПЛК с ПК.\n"};
inline constexpr Cp1251Text kHelpDn{"\t/dn - чтение файла из ПЛК.\n"};
inline constexpr Cp1251Text kHelpFolder{
    "\t/FLDR\"Name\" - целевая папка на ПК.\n\tВслучае отсутствия параметра берется текущая "
    "папка.\n"};
inline constexpr Cp1251Text kHelpFileList{
    "\tСписок файлов должен быть представлен в виде имен файлов\n\t(БЕЗ УКАЗАНИЯ ПАПОК)в "
    "двойных ковычках с разделителем пробел.\n"};
inline constexpr Cp1251Text kHelpExample{"\t Пример:  \"file1.txt\" \"file2.txt\"\n\n"};

// Driver.
inline constexpr Cp1251Text kNoLink{"Не указаны сетевые параметры.\n"};
inline constexpr Cp1251Text kNoAction{"Не указано дествие программы"};
inline constexpr Cp1251Text kBadComPort{"Неверно указан com порт, смотрите справку."};
inline constexpr char kFrameworkFailed[] = "Fatal Error: MFC initialization failed\n";

// Operations.
inline constexpr Cp1251Text kPortBusy{"Порт занят!"};
inline constexpr Cp1251Text kDeleting{"удаление файла "};
inline constexpr Cp1251Text kWriting{"Запись файла: "};
inline constexpr Cp1251Text kReading{"Чтение файла: "};
inline constexpr Cp1251Text kPressReset{"Нажмите reset на приборе!"};
inline constexpr Cp1251Text kCannotCreate{"невозможно создать файл!!!"};
inline constexpr Cp1251Text kReadDone{"успешно считан\n"};
// A name that the frames cannot carry is refused before anything is sent.
inline constexpr Cp1251Text kNameTooLong{"Слишком длинное имя файла: "};
// So is a name with a character that the controller's code page lacks (shown as '?').
inline constexpr Cp1251Text kNameCharacter{"Недопустимый символ в имени файла: "};

}  // namespace cabrix::msg
