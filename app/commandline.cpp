#include "app/commandline.h"

#include <string_view>

std::string UsageText()
{
    return "Usage:\n"
           "  images-by-id\n"
           "      Opens the dialog (on a display; without one, exit status 2).\n"
           "  images-by-id import --db DBFILE --images DIR [--thumbs DIR]\n"
           "                      [--kind poster|screenshot|front|cd|both]\n"
           "                      [--remove-existing] [--skip-existing] [--set-folder]\n"
           "                      [--dry-run] [--report FILE] [--verbose] [--threads 1|2]\n"
           "                      [--smooth] [--user NAME]\n"
           "      Imports every picture of DIR named by catalogue number (1234.jpg; with\n"
           "      --kind both, 1234_1.jpg is a front cover and 1234_2.jpg a CD cover) into the\n"
           "      catalogue database DBFILE, as the dialog's \"Process images\" does. The kind\n"
           "      defaults to poster. Covers (front, cd, both) need --thumbs: a JPEG\n"
           "      thumbnail 318 pixels wide (landscape) or 238 high is written there for\n"
           "      each (never in DIR itself). --remove-existing deletes every images row\n"
           "      first, with the thumbnails rows left without one, once DIR can be read;\n"
           "      --set-folder stores the folders in the options table.\n"
           "      --skip-existing passes over a picture whose record already has an images\n"
           "      row of the same file name and type, making its thumbnail (file and row,\n"
           "      same picture id) again if either is missing; with --remove-existing,\n"
           "      removing wins and nothing is skipped. --dry-run only looks: it inserts,\n"
           "      deletes, numbers and writes nothing and prints what each entry would\n"
           "      become. --report FILE writes a CSV line for every entry (file, outcome,\n"
           "      reason, record key, picture id, thumbnail file), also when the pass\n"
           "      fails; --verbose prints the same lines to standard error. With thumbnails\n"
           "      and more than one core, the next pictures are decoded ahead on a second\n"
           "      thread; --threads 1 decodes everything on one thread. --smooth makes\n"
           "      smooth thumbnails (the dialog's \"Smooth thumbnails\"): each thumbnail\n"
           "      pixel is the average of the picture pixels it covers, not the nearest one.\n"
           "      Progress goes to standard error on a terminal; the last line on standard\n"
           "      output counts entries seen, pictures imported, thumbnails written and\n"
           "      entries passed over, then skipped entries and each reason. Exit status: 0 when the pass ended normally, 1 when it\n"
           "      ended with an error or left something undone (thumbnail rows that could\n"
           "      not be stored, pictures too large for the memory left, no options row for\n"
           "      --set-folder), 2 for usage errors, 130, 143 or 129 when SIGINT, SIGTERM or\n"
           "      SIGHUP stopped it before its next entry (what it did is committed and\n"
           "      counted; a second signal ends it at once).\n"
           "      DBFILE is a catalogue file on this machine or a catalogue on a Firebird\n"
           "      server, by this rule, in order:\n"
           "        - a name starting with /, ./, ../ or ~ is a local file (~ and ~user\n"
           "          stand for the home folder);\n"
           "        - a name starting with inet://, inet4:// or inet6:// is on a server:\n"
           "          inet://host[:port]/path/catalogue.fdb;\n"
           "        - a name with a colon whose part before the first colon is a host name\n"
           "          (letters, digits, '.', '-', '_') or an IPv6 address in brackets,\n"
           "          optionally followed by /port, and with text after the colon is on a\n"
           "          server: host:/path/catalogue.fdb, host/3051:/path/catalogue.fdb,\n"
           "          host:alias;\n"
           "        - any other name is a local file, relative to the current folder\n"
           "          (write ./name for a local file whose name has a colon).\n"
           "      A local file must exist and is opened by the embedded engine with no\n"
           "      password, as SYSDBA unless ISC_USER or --user names another user. A server\n"
           "      catalogue is opened as --user NAME (default: ISC_USER) with the password\n"
           "      of ISC_PASSWORD, or, when that is not set and the input is a terminal, one\n"
           "      asked for without echo; a password is never taken from the command line.\n"
           "      The server's own message tells why it could not be opened. For a server\n"
           "      catalogue --set-folder stores the full folder paths in the _rel columns\n"
           "      too (the server's file system is not this machine's). Passes on several\n"
           "      machines may import into one server catalogue at the same time.\n"
           "  images-by-id thumbnail [--smooth] IMAGE OUT.jpg\n"
           "      Writes the thumbnail of one picture, exactly as an import makes it (turned\n"
           "      and mirrored as the picture's orientation tag says, as viewers show it);\n"
           "      --smooth as an import with --smooth makes it.\n"
           "  images-by-id decode [--oriented] IMAGE OUT.ppm\n"
           "      Decodes one picture into a binary PPM file, its pixels as stored; with\n"
           "      --oriented as viewers show it (turned by its orientation tag).\n"
           "  images-by-id --help\n"
           "      Shows this text.\n"
           "  images-by-id --version\n"
           "      Shows the version.\n";
}

bool DialogCanOpen(const char* display, const char* waylandDisplay, const char* platform)
{
    if ((display && *display) || (waylandDisplay && *waylandDisplay))
        return true;
    std::string_view plugins = platform ? platform : "";
    while (!plugins.empty()) {
        const std::size_t end = plugins.find(';');
        const std::string_view plugin = plugins.substr(0, end);
        const std::string_view name = plugin.substr(0, plugin.find(':'));
        if (!name.empty() && name != "xcb" && !name.starts_with("wayland"))
            return true;
        plugins = end == std::string_view::npos ? std::string_view() : plugins.substr(end + 1);
    }
    return false;
}
