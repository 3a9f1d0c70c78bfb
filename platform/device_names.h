// Windows names devices, not files, with NUL, CON, PRN, AUX, COM1-9, LPT1-9,
// CONIN$ and CONOUT$, also with an extension ("nul.obj") or in a folder
// ("sub\con.txt"). NUL is read and written as /dev/null is elsewhere; every
// other device is refused, since reading the console or a port may wait for
// ever and a printer is no place for a model.
#pragma once

#include <filesystem>
#include <string>

namespace ulv {

// The device `path` names, upper case ("NUL", "COM1", ...), as Windows itself
// resolves the name; empty for a file, and always empty on other systems.
std::string windowsDevice(const std::filesystem::path& path);

} // namespace ulv
