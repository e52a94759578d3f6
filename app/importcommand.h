#pragma once
#include "app/commandline.h"

#include <iosfwd>
#include <string>
#include <vector>

// images-by-id import --db FILE --images DIR [--thumbs DIR] [--kind KIND] [--remove-existing]
// [--set-folder] [--user NAME]: the import pass without a window. args are the words after
// "import".
int RunImportCommand(const std::vector<std::string>& args);
int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress);
