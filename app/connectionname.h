#pragma once
#include <cstdint>
#include <string>

// What the catalogue name in the database box or after --db names: a file on this machine,
// opened by the embedded engine, or a catalogue on a database server, reached through the
// network.
enum class TConnectionKind : std::uint8_t { ckLocalFile, ckServer };

struct TConnectionName {
    TConnectionKind Kind = TConnectionKind::ckLocalFile;
    // A local file: the name with a leading "~" or "~user" replaced by the home folder.
    // A server: the name as written.
    std::string Name;
    bool OnServer() const { return Kind == TConnectionKind::ckServer; }
};

// The rule, in this order:
//  1. a name that starts with "/", "./", "../" or "~" is a local file;
//  2. a name that starts with "inet://", "inet4://" or "inet6://" is on a server;
//  3. a name with a ":" whose part before the first ":" is a host name (letters, digits, ".",
//     "-", "_"), an IPv6 address in brackets, either followed by "/" and a port number or
//     service name (letters, digits, "-", "_"), and some text after the ":", is on a server:
//     host:/path/catalogue.fdb, host/3051:/path/catalogue.fdb, host:alias;
//  4. anything else is a local file (relative names count from the current folder).
// home is the folder "~" stands for; "~user" is looked up in the user database.
TConnectionName ClassifyConnectionName(const std::string& text, const std::string& home);

// The same with $HOME as the home folder.
TConnectionName ClassifyConnectionName(const std::string& text);
