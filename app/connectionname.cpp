#include "app/connectionname.h"

#include <pwd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

bool IsNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool AllOf(std::string_view text, bool (*accepted)(char))
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (!accepted(c))
            return false;
    return true;
}

bool IsHostCharacter(char c) { return IsNameCharacter(c) || c == '.'; }

bool IsAddressCharacter(char c) { return IsHostCharacter(c) || c == ':' || c == '%'; }

// host, [ipv6] or either with "/port" after it: the part of a server name before its ":".
bool IsServerPrefix(std::string_view prefix)
{
    std::string_view port;
    if (prefix.starts_with('[')) {
        const std::size_t close = prefix.find(']');
        if (close == std::string_view::npos || !AllOf(prefix.substr(1, close - 1), IsAddressCharacter))
            return false;
        const std::string_view rest = prefix.substr(close + 1);
        if (rest.empty())
            return true;
        if (!rest.starts_with('/'))
            return false;
        port = rest.substr(1);
    } else {
        const std::size_t slash = prefix.find('/');
        if (!AllOf(prefix.substr(0, slash), IsHostCharacter))
            return false;
        if (slash == std::string_view::npos)
            return true;
        port = prefix.substr(slash + 1);
    }
    return AllOf(port, IsNameCharacter);
}

// The home folder of the user named after "~", empty when there is none.
std::string HomeOf(const std::string& user)
{
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir)
        return {};
    return found->pw_dir;
}

std::string ExpandTilde(const std::string& text, const std::string& home)
{
    const std::size_t slash = text.find('/');
    const std::string user = text.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
    const std::string folder = user.empty() ? home : HomeOf(user);
    if (folder.empty())
        return text;
    return folder + (slash == std::string::npos ? std::string() : text.substr(slash));
}

} // namespace

TConnectionName ClassifyConnectionName(const std::string& text, const std::string& home)
{
    TConnectionName name;
    name.Name = text;
    if (text.starts_with('~')) {
        name.Name = ExpandTilde(text, home);
        return name;
    }
    if (text.starts_with('/') || text.starts_with("./") || text.starts_with("../"))
        return name;
    for (const char* scheme : { "inet://", "inet4://", "inet6://" })
        if (text.starts_with(scheme)) {
            name.Kind = TConnectionKind::ckServer;
            return name;
        }
    // The colon that ends the server part: past the brackets of an IPv6 address.
    const std::size_t searchFrom = text.starts_with('[') ? text.find(']') : 0;
    const std::size_t colon = searchFrom == std::string::npos ? searchFrom : text.find(':', searchFrom);
    if (colon != std::string::npos && colon + 1 < text.size() && IsServerPrefix(std::string_view(text).substr(0, colon)))
        name.Kind = TConnectionKind::ckServer;
    return name;
}

TConnectionName ClassifyConnectionName(const std::string& text)
{
    const char* home = std::getenv("HOME");
    return ClassifyConnectionName(text, home ? home : "");
}
