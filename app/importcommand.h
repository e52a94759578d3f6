#pragma once
#include <iosfwd>
#include <string>
#include <vector>

// Exit codes of the commands.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// images-by-id import --db FILE --images DIR [--thumbs DIR] [--kind KIND] [--remove-existing]
// [--set-folder]: the import pass without a window. args are the words after "import".
int RunImportCommand(const std::vector<std::string>& args);
int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress);

// images-by-id thumbnail IMAGE OUT.jpg: the thumbnail of one picture, as the pass makes it.
int RunThumbnailCommand(const std::vector<std::string>& args);
int RunThumbnailCommand(const std::vector<std::string>& args, std::ostream& err);

// The text of images-by-id --help.
std::string UsageText();
