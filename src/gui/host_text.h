#pragma once
// Text between the console core (bytes in the host's 8-bit character set) and Qt.

#include <QString>
#include <QStringList>
#include <string>

namespace kyr {

// Console text (status, panel, file names) to a QString: the host's encoding when the
// bytes are valid in it, else one character per byte. Line breaks become "\n".
QString fromHostText(const std::string& text);
// Device characters: always one character per byte, so the 24 columns stay aligned.
QString fromDeviceText(const std::string& text);
// What the user typed, in the host's 8-bit encoding.
std::string toHostText(const QString& text);

// A time format without its time-zone part ("HH:mm:ss t" -> "HH:mm:ss").
QString withoutTimeZone(const QString& format);

// "All Files (*.*)|*.*|KYR Files (*.KYR)|*.KYR" as Qt name filters: "All Files (*)" and
// "KYR Files (*.KYR *.kyr)" (a file system with case in its names must still show foo.kyr).
QStringList qtNameFilters(const std::string& filter);

}  // namespace kyr
