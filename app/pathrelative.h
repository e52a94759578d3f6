#pragma once
#include <string>

// The folder path of target relative to the folder of the file base, with "/" between
// folders: /data/cat.fdb and /data/images/ give images/, /pics/covers/ gives
// ../pics/covers/, /data/ gives an empty text. Folder names compare with exact letter case.
// When one path is absolute and the other is not, there is no common root and target is
// returned unchanged.
std::string PathRelativeTo(const std::string& base, const std::string& target);
