#pragma once
#include "raster/graphic.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* SDuplicateFormat = "Attempt to register %s twice.";
inline constexpr const char* SIconNotLoadable = "Cannot load image. Windows icons are not supported.";
inline constexpr const char* SMetafileNotLoadable = "Cannot load image. Windows metafiles are not supported.";

// A graphic class as the registry knows it: an identity (one object per class, compared
// by address), its class name and a factory for new, empty instances.
class TGraphicClass {
public:
    using TFactory = std::unique_ptr<TGraphic> (*)();
    using TNameSource = std::string (*)();
    TGraphicClass(TNameSource name, TFactory factory) : FName(name), FFactory(factory) {}
    TGraphicClass(const TGraphicClass&) = delete;
    TGraphicClass& operator=(const TGraphicClass&) = delete;

    std::string Name() const { return FName(); }
    std::unique_ptr<TGraphic> Create() const { return FFactory(); }

private:
    TNameSource FName;
    TFactory FFactory;
};

// The one class object of graphic class T.
template <typename T>
const TGraphicClass& GraphicClass()
{
    static const TGraphicClass graphicClass(
        [] { return T().ClassName(); }, []() -> std::unique_ptr<TGraphic> { return std::make_unique<T>(); });
    return graphicClass;
}

// Bits of FormatKinds. Stored, never evaluated.
enum TFormatKind : std::uint8_t {
    fkAnimated = 1,
    fkMultiImage = 4,
    fkRaster = 8,
    fkVector = 16,
};
using TFormatKinds = std::uint8_t;

// A graphic class with the common description of its formats and how many extension
// entries refer to it.
struct TClassEntry {
    const TGraphicClass* GraphicClass = nullptr;
    std::string Description;
    std::int32_t Count = 0;
};

// One registered extension (without the dot, kept as registered).
struct TExtensionEntry {
    std::string Extension;
    std::string Description;
    TFormatKinds FormatKinds = 0;
    TClassEntry* ClassEntry = nullptr;
};

// The picture container's list of loadable formats: extension, description and class.
// Registering a known extension again (any case) replaces its entry.
class TPictureFormats {
public:
    struct TEntry {
        std::string Extension;
        std::string Description;
        const TGraphicClass* GraphicClass = nullptr;
    };

    void Register(const std::string& extension, const std::string& description, const TGraphicClass& graphicClass);
    void UnregisterExtension(std::string_view extension);
    void UnregisterClass(const TGraphicClass& graphicClass);
    // Index of the extension (any case), -1 when unknown.
    int Find(std::string_view extension) const;
    const std::vector<TEntry>& Entries() const { return FEntries; }

private:
    std::vector<TEntry> FEntries;
};

// The picture container of the process.
TPictureFormats& PictureFormats();

// The registry of image file formats: extensions mapped to graphic classes and
// descriptions. Every registration is handed on to a picture container.
class TFileFormatList {
public:
    // Hands registrations to the process's picture container.
    TFileFormatList();
    explicit TFileFormatList(TPictureFormats& container);
    ~TFileFormatList();
    TFileFormatList(const TFileFormatList&) = delete;
    TFileFormatList& operator=(const TFileFormatList&) = delete;

    // An empty extension does nothing. A known extension fails with "Attempt to register %s
    // twice." unless replace is set; then it moves to the new class.
    void RegisterFormat(const std::string& extension, const std::string& commonDescription,
        const std::string& individualDescription, TFormatKinds formatKinds, bool replace,
        const TGraphicClass& graphicClass);
    // With an extension: drops that entry (unknown extensions do nothing). Without one:
    // drops every extension of the class and the class itself.
    void UnregisterFormat(const std::string& extension, const TGraphicClass& graphicClass);
    // Index of the extension entry, case-insensitive; -1 when absent or empty.
    int FindExtension(std::string_view extension) const;
    // Index of the class entry, -1 when the class is not registered.
    int FindClassEntry(const TGraphicClass& graphicClass) const;
    // Drops every class from the container and frees all entries.
    void ClearFormats();

    int ExtensionCount() const { return static_cast<int>(FExtensions.size()); }
    const TExtensionEntry& ExtensionAt(int index) const { return *FExtensions.at(index); }
    int ClassCount() const { return static_cast<int>(FClasses.size()); }
    const TClassEntry& ClassEntryAt(int index) const { return *FClasses.at(index); }

private:
    void LinkToClass(TExtensionEntry& entry, const std::string& commonDescription, const TGraphicClass& graphicClass);
    void DropClassEntry(const TClassEntry* classEntry);

    TPictureFormats& FContainer;
    std::vector<std::unique_ptr<TExtensionEntry>> FExtensions;
    std::vector<std::unique_ptr<TClassEntry>> FClasses;
};

// The process-wide registry, made with the start-up registrations on first use and torn
// down at exit with the shutdown unregistrations.
TFileFormatList& FileFormats();

// The registrations the library makes at start-up and undoes at shutdown.
void RegisterStartupFormats(TFileFormatList& list);
void UnregisterShutdownFormats(TFileFormatList& list);

// Stand-ins for the icon and metafile classes that the registry names; this program never
// loads such files, so loading fails and the objects stay empty.
class TPlaceholderGraphic : public TGraphic {
public:
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    bool IsEmpty() const override { return true; }
    void SaveStream(TStream&) override {}
    void DrawInto(TCanvas&, const TRect&) const override {}
};

class TIcon : public TPlaceholderGraphic {
public:
    std::string ClassName() const override { return "TIcon"; }
    void LoadStream(TStream& stream) override;
};

class TMetafile : public TPlaceholderGraphic {
public:
    std::string ClassName() const override { return "TMetafile"; }
    void LoadStream(TStream& stream) override;
};
