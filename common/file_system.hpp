// The two questions the program asks of the file system: where the running
// program is, and whether a file exists. Implemented per platform in
// file_system_win32.cpp and file_system_posix.cpp.
#pragma once

#include <string>

namespace marquo {

// The program folder: the folder of the running executable, with its
// trailing path separator ("\" on Windows, "/" on POSIX); empty text when the
// platform cannot tell, which makes names relative to the current folder.
std::u16string ProgramFolder();

// True when aFileName names an existing file. A folder does not count; a
// link counts when its target is a file that can be opened.
bool FileExists(const std::u16string &aFileName);

} // namespace marquo
