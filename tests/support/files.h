#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder in the system's temporary folder (its path ends in "/"), removed with
// everything in it.
class TTempFolder {
public:
    explicit TTempFolder(const std::string& prefix = "ibi");
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::string& Path() const { return FPath; }
    std::string operator/(const std::string& name) const { return FPath + name; }

private:
    std::string FPath;
};

// The whole file; empty when it cannot be read.
std::vector<std::uint8_t> ReadFile(const std::string& path);
// Writes the file anew; throws std::runtime_error when that fails.
void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace testsupport
