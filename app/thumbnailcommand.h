#pragma once
#include "app/commandline.h"

#include <iosfwd>
#include <string>
#include <vector>

// images-by-id thumbnail IMAGE OUT.jpg: the thumbnail of one picture, as the pass makes it.
// args are the words after "thumbnail"; messages go to err.
int RunThumbnailCommand(const std::vector<std::string>& args);
int RunThumbnailCommand(const std::vector<std::string>& args, std::ostream& err);
