#include "db/fberrors.h"

#include "base/fmt.h"

#include <cstdint>
#include <string_view>

TFbErrorClass FbErrorClassOf(long status)
{
    const auto code = static_cast<std::uint32_t>(status);
    if (code == static_cast<std::uint32_t>(UserExceptionStatus))
        return MakeFbError<EFbException>;
    switch ((code >> 16) & 0xFFu) { // the facility
    case 3: return MakeFbError<EFbGFixError>;
    case 7: return MakeFbError<EFbDSQLError>;
    case 8: return MakeFbError<EFbDynError>;
    case 12: return MakeFbError<EFbGBakError>;
    case 18: return MakeFbError<EFbGSecError>;
    case 19: return MakeFbError<EFbLicenseError>;
    case 21: return MakeFbError<EFbGStatError>;
    default: return MakeFbError<EFbError>;
    }
}

void FbAssertionFailed(const char* text, const char* file, int line)
{
    std::string_view name = file;
    if (const auto slash = name.find_last_of('/'); slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    throw EAssertionFailed(Fmt(SAssertionFormat, text, name, line));
}
