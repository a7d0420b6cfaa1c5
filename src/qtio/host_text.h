#pragma once
// Text between the console core and Qt. The console hands the Ui UTF-8.

#include <QString>
#include <QStringList>
#include <string>

namespace kyr {

// Console text (status, display, panel) to a QString: UTF-8 when the bytes are valid UTF-8,
// else one character per byte (raw 8-bit text must still show). Line breaks become "\n".
QString fromUiText(const std::string& text);
// What the user typed, as UTF-8.
std::string toUiText(const QString& text);

// A time format without its time-zone part ("HH:mm:ss t" -> "HH:mm:ss").
QString withoutTimeZone(const QString& format);

// "All Files (*.*)|*.*|KYR Files (*.KYR)|*.KYR" as Qt name filters: "All Files (*)" and
// "KYR Files (*.KYR *.kyr)" (a file system with case in its names must still show foo.kyr).
QStringList qtNameFilters(const std::string& filter);

}  // namespace kyr
