#include "imaging/fileformatlist.h"

#include "base/fmt.h"
#include "base/text.h"

#include <algorithm>

void TPictureFormats::Register(const std::string& extension, const std::string& description,
    const TGraphicClass& graphicClass)
{
    const int index = Find(extension);
    TEntry entry { extension, description, &graphicClass };
    if (index >= 0)
        FEntries[index] = std::move(entry);
    else
        FEntries.push_back(std::move(entry));
}

void TPictureFormats::UnregisterExtension(std::string_view extension)
{
    const int index = Find(extension);
    if (index >= 0)
        FEntries.erase(FEntries.begin() + index);
}

void TPictureFormats::UnregisterClass(const TGraphicClass& graphicClass)
{
    std::erase_if(FEntries, [&](const TEntry& entry) { return entry.GraphicClass == &graphicClass; });
}

int TPictureFormats::Find(std::string_view extension) const
{
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (SameTextAscii(FEntries[i].Extension, extension))
            return static_cast<int>(i);
    return -1;
}

TPictureFormats& PictureFormats()
{
    static TPictureFormats container;
    return container;
}

TFileFormatList::TFileFormatList() : FContainer(PictureFormats()) {}

TFileFormatList::TFileFormatList(TPictureFormats& container) : FContainer(container) {}

TFileFormatList::~TFileFormatList()
{
    ClearFormats();
}

void TFileFormatList::RegisterFormat(const std::string& extension, const std::string& commonDescription,
    const std::string& individualDescription, TFormatKinds formatKinds, bool replace,
    const TGraphicClass& graphicClass)
{
    if (extension.empty())
        return;
    const int index = FindExtension(extension);
    TExtensionEntry* entry = nullptr;
    if (index < 0) {
        FExtensions.push_back(std::make_unique<TExtensionEntry>(TExtensionEntry { extension, individualDescription, formatKinds, nullptr }));
        entry = FExtensions.back().get();
        LinkToClass(*entry, commonDescription, graphicClass);
    } else {
        if (!replace)
            throw EInvalidGraphic(Fmt(SDuplicateFormat, extension));
        entry = FExtensions[index].get();
        TClassEntry* oldClass = entry->ClassEntry;
        if (oldClass->GraphicClass == &graphicClass)
            return;
        LinkToClass(*entry, commonDescription, graphicClass);
        if (--oldClass->Count <= 0)
            DropClassEntry(oldClass);
    }
    const std::string& description = entry->Description.empty() ? entry->ClassEntry->Description : entry->Description;
    FContainer.Register(entry->Extension, description, graphicClass);
}

void TFileFormatList::LinkToClass(TExtensionEntry& entry, const std::string& commonDescription,
    const TGraphicClass& graphicClass)
{
    const int index = FindClassEntry(graphicClass);
    TClassEntry* classEntry = nullptr;
    if (index < 0) {
        FClasses.push_back(std::make_unique<TClassEntry>(TClassEntry { &graphicClass, std::string(), 0 }));
        classEntry = FClasses.back().get();
    } else {
        classEntry = FClasses[index].get();
    }
    if (!commonDescription.empty())
        classEntry->Description = commonDescription;
    ++classEntry->Count;
    entry.ClassEntry = classEntry;
}

void TFileFormatList::DropClassEntry(const TClassEntry* classEntry)
{
    std::erase_if(FClasses, [&](const auto& candidate) { return candidate.get() == classEntry; });
}

void TFileFormatList::UnregisterFormat(const std::string& extension, const TGraphicClass& graphicClass)
{
    if (!extension.empty()) {
        const int index = FindExtension(extension);
        if (index < 0)
            return;
        TClassEntry* classEntry = FExtensions[index]->ClassEntry;
        // The container loses the extension too, so that loading by extension agrees with
        // the registry.
        FContainer.UnregisterExtension(FExtensions[index]->Extension);
        FExtensions.erase(FExtensions.begin() + index);
        if (--classEntry->Count <= 0) {
            FContainer.UnregisterClass(*classEntry->GraphicClass);
            DropClassEntry(classEntry);
        }
        return;
    }
    const int classIndex = FindClassEntry(graphicClass);
    if (classIndex < 0)
        return;
    TClassEntry* classEntry = FClasses[classIndex].get();
    for (int i = ExtensionCount() - 1; i >= 0 && classEntry->Count > 0; --i)
        if (FExtensions[i]->ClassEntry == classEntry) {
            FExtensions.erase(FExtensions.begin() + i);
            --classEntry->Count;
        }
    FContainer.UnregisterClass(graphicClass);
    DropClassEntry(classEntry);
}

int TFileFormatList::FindExtension(std::string_view extension) const
{
    if (extension.empty())
        return -1;
    for (std::size_t i = 0; i < FExtensions.size(); ++i)
        if (SameTextAscii(FExtensions[i]->Extension, extension))
            return static_cast<int>(i);
    return -1;
}

int TFileFormatList::FindClassEntry(const TGraphicClass& graphicClass) const
{
    for (std::size_t i = 0; i < FClasses.size(); ++i)
        if (FClasses[i]->GraphicClass == &graphicClass)
            return static_cast<int>(i);
    return -1;
}

void TFileFormatList::ClearFormats()
{
    for (const auto& classEntry : FClasses)
        FContainer.UnregisterClass(*classEntry->GraphicClass);
    FClasses.clear();
    FExtensions.clear();
}

void TIcon::LoadStream(TStream&)
{
    throw EInvalidGraphic(SIconNotLoadable);
}

void TMetafile::LoadStream(TStream&)
{
    throw EInvalidGraphic(SMetafileNotLoadable);
}
