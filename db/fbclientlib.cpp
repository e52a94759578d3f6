#include "db/fbclientlib.h"

#include "base/fmt.h"
#include "base/text.h"
#include "db/fbcomponents.h"
#include "db/fbsqlda.h"

#include <ibase.h>

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>
#include <typeinfo>

// The layer's own spellings of the library's types must be the library's types.
static_assert(std::is_same_v<TIscStatus, ISC_STATUS>);
static_assert(std::is_same_v<TFbHandle, FB_API_HANDLE>);
static_assert(StatusVectorLength == ISC_STATUS_LENGTH);
static_assert(sizeof(TIscQuad) == sizeof(ISC_QUAD) && offsetof(TIscQuad, Low) == offsetof(ISC_QUAD, gds_quad_low));
static_assert(sizeof(TIscTimestamp) == sizeof(ISC_TIMESTAMP)
    && offsetof(TIscTimestamp, Time) == offsetof(ISC_TIMESTAMP, timestamp_time));
static_assert(StatementTypeExecProcedure == isc_info_sql_stmt_exec_procedure - 1);
static_assert(DsqlClose == DSQL_close && DsqlDrop == DSQL_drop);
static_assert(UserExceptionStatus == isc_except);
static_assert(GdsDeadlock == isc_deadlock && GdsIoError == isc_io_error && GdsLockConflict == isc_lock_conflict
    && GdsUpdateConflict == isc_update_conflict && GdsLogin == isc_login && GdsLockTimeout == isc_lock_timeout
    && GdsAlreadyOpened == isc_already_opened);
static_assert(TpbLockTimeout == isc_tpb_lock_timeout);
static_assert(TpbVersion3 == isc_tpb_version3 && static_cast<int>(tpConsistency) + 1 == isc_tpb_consistency
    && static_cast<int>(tpLockRead) + 1 == isc_tpb_lock_read && static_cast<int>(tpLockWrite) + 1 == isc_tpb_lock_write
    && static_cast<int>(tpNoAutoUndo) + 1 == isc_tpb_no_auto_undo);
static_assert(SqlVarying == SQL_VARYING && SqlText == SQL_TEXT && SqlDouble == SQL_DOUBLE && SqlFloat == SQL_FLOAT
    && SqlLong == SQL_LONG && SqlShort == SQL_SHORT && SqlTimestamp == SQL_TIMESTAMP && SqlBlob == SQL_BLOB
    && SqlDFloat == SQL_D_FLOAT && SqlArray == SQL_ARRAY && SqlQuad == SQL_QUAD && SqlTypeTime == SQL_TYPE_TIME
    && SqlTypeDate == SQL_TYPE_DATE && SqlInt64 == SQL_INT64);

namespace {

// Every entry point, in slot order. All are mandatory: a library lacking one is refused.
#define IBI_FB_ENTRY_POINTS(X)                                                                   \
    X(BLOB_close) X(BLOB_dump) X(BLOB_edit) X(BLOB_get) X(BLOB_load) X(BLOB_open) X(BLOB_put)    \
    X(BLOB_text_dump) X(BLOB_text_load) X(Bopen)                                                 \
    X(isc_add_user) X(isc_delete_user) X(isc_modify_user) X(isc_service_attach)                  \
    X(isc_service_detach) X(isc_service_query) X(isc_service_start)                              \
    X(isc_array_gen_sdl) X(isc_array_get_slice) X(isc_array_lookup_bounds)                       \
    X(isc_array_lookup_desc) X(isc_array_put_slice) X(isc_array_set_desc) X(isc_get_slice)       \
    X(isc_put_slice)                                                                             \
    X(isc_attach_database) X(isc_create_database) X(isc_detach_database) X(isc_drop_database)    \
    X(isc_database_info) X(isc_expand_dpb) X(isc_modify_dpb) X(isc_version)                      \
    X(isc_blob_default_desc) X(isc_blob_gen_bpb) X(isc_blob_info) X(isc_blob_lookup_desc)        \
    X(isc_blob_set_desc) X(isc_cancel_blob) X(isc_close_blob) X(isc_create_blob)                 \
    X(isc_create_blob2) X(isc_get_segment) X(isc_open_blob) X(isc_open_blob2)                    \
    X(isc_put_segment) X(isc_seek_blob)                                                          \
    X(isc_cancel_events) X(isc_event_block) X(isc_event_counts) X(isc_que_events)                \
    X(isc_wait_for_event)                                                                        \
    X(isc_commit_retaining) X(isc_commit_transaction) X(isc_prepare_transaction)                 \
    X(isc_prepare_transaction2) X(isc_reconnect_transaction) X(isc_rollback_retaining)           \
    X(isc_rollback_transaction) X(isc_start_multiple) X(isc_start_transaction)                   \
    X(isc_transaction_info)                                                                      \
    X(isc_dsql_alloc_statement2) X(isc_dsql_allocate_statement) X(isc_dsql_describe)             \
    X(isc_dsql_describe_bind) X(isc_dsql_exec_immed2) X(isc_dsql_exec_immed3_m)                  \
    X(isc_dsql_execute) X(isc_dsql_execute_immediate) X(isc_dsql_execute_immediate_m)            \
    X(isc_dsql_execute_m) X(isc_dsql_execute2) X(isc_dsql_execute2_m) X(isc_dsql_fetch)          \
    X(isc_dsql_fetch_m) X(isc_dsql_finish) X(isc_dsql_free_statement) X(isc_dsql_insert)         \
    X(isc_dsql_insert_m) X(isc_dsql_prepare) X(isc_dsql_prepare_m) X(isc_dsql_release)          \
    X(isc_dsql_set_cursor_name) X(isc_dsql_sql_info)                                             \
    X(isc_embed_dsql_close) X(isc_embed_dsql_declare) X(isc_embed_dsql_describe)                 \
    X(isc_embed_dsql_describe_bind) X(isc_embed_dsql_execute) X(isc_embed_dsql_execute_immed)    \
    X(isc_embed_dsql_execute2) X(isc_embed_dsql_fetch) X(isc_embed_dsql_insert)                  \
    X(isc_embed_dsql_open) X(isc_embed_dsql_open2) X(isc_embed_dsql_prepare)                     \
    X(isc_embed_dsql_release) X(isc_close) X(isc_declare) X(isc_describe) X(isc_describe_bind)   \
    X(isc_execute) X(isc_execute_immediate) X(isc_fetch) X(isc_open) X(isc_prepare) X(isc_ddl)   \
    X(isc_compile_request) X(isc_compile_request2) X(isc_receive) X(isc_release_request)         \
    X(isc_request_info) X(isc_send) X(isc_start_and_send) X(isc_start_request)                   \
    X(isc_transact_request) X(isc_unwind_request) X(isc_print_blr)                               \
    X(isc_decode_date) X(isc_decode_sql_date) X(isc_decode_sql_time) X(isc_decode_timestamp)     \
    X(isc_encode_date) X(isc_encode_sql_date) X(isc_encode_sql_time) X(isc_encode_timestamp)     \
    X(isc_interprete) X(isc_print_sqlerror) X(isc_print_status) X(isc_sql_interprete)            \
    X(isc_sqlcode)                                                                               \
    X(isc_free) X(isc_ftof) X(isc_portable_integer) X(isc_qtoq) X(isc_vax_integer) X(isc_vtof)   \
    X(isc_vtov)

// One block of isc_start_multiple: database handle, parameter block length and bytes.
struct TTransactionBlock {
    FB_API_HANDLE* DbHandle;
    ISC_LONG TpbLength;
    const ISC_SCHAR* Tpb;
};

XSQLDA* Sqlda(void* area) { return static_cast<XSQLDA*>(area); }

// What isc_dsql_fetch returns after the last row.
constexpr ISC_STATUS FetchEndOfCursor = 100;

// The 32 bits of a status value that carry the code.
constexpr std::uint32_t StatusCode(ISC_STATUS status) { return static_cast<std::uint32_t>(status); }

// An information answer is a list of clusters: the item, a 16-bit length and the value, all
// little-endian, up to isc_info_end. The value of item as an unsigned integer; nullopt when the
// answer lacks it or it runs past the buffer.
std::optional<std::uint64_t> InfoValue(std::span<const ISC_SCHAR> answer, ISC_SCHAR item)
{
    std::size_t position = 0;
    while (answer.size() - position >= 3 && answer[position] != isc_info_end) {
        const std::size_t length = static_cast<unsigned char>(answer[position + 1])
            | std::size_t(static_cast<unsigned char>(answer[position + 2])) << 8;
        if (length > answer.size() - position - 3)
            return std::nullopt;
        if (answer[position] == item) {
            std::uint64_t value = 0;
            for (std::size_t i = std::min<std::size_t>(length, 8); i > 0; --i)
                value = value << 8 | static_cast<unsigned char>(answer[position + 3 + i - 1]);
            return value;
        }
        position += 3 + length;
    }
    return std::nullopt;
}

// Statement and file name lengths travel as 16-bit values; 0 asks the library to measure the
// zero-terminated text itself, which keeps longer texts whole.
unsigned short TextLength(const std::string& text)
{
    return text.size() <= 32767 ? static_cast<unsigned short>(text.size()) : 0;
}

// The runtime's integer parse: optional sign, decimal digits, or "$" and hex digits.
bool TryParseInteger(const std::string& text, long long& value)
{
    const std::string trimmed = Trim(text);
    if (trimmed.empty())
        return false;
    std::size_t pos = 0;
    bool negative = false;
    if (trimmed[pos] == '-' || trimmed[pos] == '+')
        negative = trimmed[pos++] == '-';
    int base = 10;
    if (pos < trimmed.size() && trimmed[pos] == '$') {
        base = 16;
        ++pos;
    }
    if (pos == trimmed.size())
        return false;
    unsigned long long result = 0;
    for (; pos < trimmed.size(); ++pos) {
        const char c = trimmed[pos];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return false;
        result = result * base + digit;
        if (result > 0xFFFFFFFFull)
            return false;
    }
    value = negative ? -static_cast<long long>(result) : static_cast<long long>(result);
    return true;
}

enum class TDpbKind { dkNever, dkFlag, dkInteger, dkString };

struct TDpbKeyword {
    const char* Name;
    TDpbKind Kind;
};

// Position + 1 is the parameter block code.
constexpr TDpbKeyword DpbKeywords[] = {
    { "cdd_pathname", TDpbKind::dkNever }, { "allocation", TDpbKind::dkNever },
    { "journal", TDpbKind::dkNever }, { "page_size", TDpbKind::dkInteger },
    { "num_buffers", TDpbKind::dkInteger }, { "buffer_length", TDpbKind::dkNever },
    { "debug", TDpbKind::dkInteger }, { "garbage_collect", TDpbKind::dkNever },
    { "verify", TDpbKind::dkInteger }, { "sweep", TDpbKind::dkInteger },
    { "enable_journal", TDpbKind::dkString }, { "disable_journal", TDpbKind::dkFlag },
    { "dbkey_scope", TDpbKind::dkInteger }, { "number_of_users", TDpbKind::dkNever },
    { "trace", TDpbKind::dkFlag }, { "no_garbage_collect", TDpbKind::dkNever },
    { "damaged", TDpbKind::dkFlag }, { "license", TDpbKind::dkString },
    { "sys_user_name", TDpbKind::dkString }, { "encrypt_key", TDpbKind::dkString },
    { "activate_shadow", TDpbKind::dkFlag }, { "sweep_interval", TDpbKind::dkInteger },
    { "delete_shadow", TDpbKind::dkFlag }, { "force_write", TDpbKind::dkInteger },
    { "begin_log", TDpbKind::dkString }, { "quit_log", TDpbKind::dkFlag },
    { "no_reserve", TDpbKind::dkInteger }, { "user_name", TDpbKind::dkString },
    { "password", TDpbKind::dkString }, { "password_enc", TDpbKind::dkString },
    { "sys_user_name_enc", TDpbKind::dkFlag }, { "interp", TDpbKind::dkInteger },
    { "online_dump", TDpbKind::dkInteger }, { "old_file_size", TDpbKind::dkInteger },
    { "old_num_files", TDpbKind::dkInteger }, { "old_file", TDpbKind::dkString },
    { "old_start_page", TDpbKind::dkInteger }, { "old_start_seqno", TDpbKind::dkInteger },
    { "old_start_file", TDpbKind::dkInteger }, { "drop_walfile", TDpbKind::dkInteger },
    { "old_dump_id", TDpbKind::dkInteger }, { "wal_backup_dir", TDpbKind::dkString },
    { "wal_chkptlen", TDpbKind::dkInteger }, { "wal_numbufs", TDpbKind::dkInteger },
    { "wal_bufsize", TDpbKind::dkInteger }, { "wal_grp_cmt_wait", TDpbKind::dkInteger },
    { "lc_messages", TDpbKind::dkString }, { "lc_ctype", TDpbKind::dkString },
    { "cache_manager", TDpbKind::dkNever }, { "shutdown", TDpbKind::dkInteger },
    { "online", TDpbKind::dkFlag }, { "shutdown_delay", TDpbKind::dkInteger },
    { "reserved", TDpbKind::dkString }, { "overwrite", TDpbKind::dkInteger },
    { "sec_attach", TDpbKind::dkInteger }, { "disable_wal", TDpbKind::dkFlag },
    { "connect_timeout", TDpbKind::dkInteger }, { "dummy_packet_interval", TDpbKind::dkInteger },
    { "gbak_attach", TDpbKind::dkString }, { "sql_role_name", TDpbKind::dkString },
    { "set_page_buffers", TDpbKind::dkInteger }, { "working_directory", TDpbKind::dkString },
    { "sql_dialect", TDpbKind::dkInteger }, { "set_db_readonly", TDpbKind::dkInteger },
    { "set_db_sql_dialect", TDpbKind::dkInteger }, { "gfix_attach", TDpbKind::dkFlag },
    { "gstat_attach", TDpbKind::dkFlag },
};
static_assert(std::size(DpbKeywords) == 67);

std::string CString(const char* text, short length, std::size_t capacity)
{
    const std::size_t count = std::min<std::size_t>(std::max<short>(length, 0), capacity);
    return std::string(text, count);
}

} // namespace

// ---- descriptor areas ----

TSqlDescriptor::TSqlDescriptor(int count)
{
    Resize(count);
}

TSqlDescriptor::~TSqlDescriptor() = default;

void TSqlDescriptor::Resize(int count)
{
    count = std::clamp(count, 0, static_cast<int>(std::numeric_limits<ISC_SHORT>::max()));
    const int room = std::max(count, 1); // the library always gets room for one entry
    const std::size_t bytes = XSQLDA_LENGTH(room);
    std::unique_ptr<std::max_align_t[]> area(
        new std::max_align_t[(bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)]);
    std::memset(area.get(), 0, bytes);
    XSQLDA* sqlda = Sqlda(area.get());
    if (FArea) // entries that stay keep their contents
        std::memcpy(sqlda->sqlvar, Sqlda(FArea.get())->sqlvar, std::min(FCount, count) * sizeof(XSQLVAR));
    sqlda->version = SQLDA_VERSION1;
    sqlda->sqldabc = static_cast<ISC_LONG>(bytes);
    sqlda->sqln = static_cast<ISC_SHORT>(room);
    sqlda->sqld = static_cast<ISC_SHORT>(count);
    FArea = std::move(area);
    FCount = count;
}

int TSqlDescriptor::Count() const noexcept { return FCount; }
int TSqlDescriptor::Described() const noexcept { return std::max<int>(Sqlda(FArea.get())->sqld, 0); }

#define IBI_VAR(index) (Sqlda(FArea.get())->sqlvar[index])
short TSqlDescriptor::SqlType(int index) const { return IBI_VAR(index).sqltype; }
void TSqlDescriptor::SetSqlType(int index, short value) { IBI_VAR(index).sqltype = value; }
short TSqlDescriptor::SqlScale(int index) const { return IBI_VAR(index).sqlscale; }
void TSqlDescriptor::SetSqlScale(int index, short value) { IBI_VAR(index).sqlscale = value; }
short TSqlDescriptor::SqlSubType(int index) const { return IBI_VAR(index).sqlsubtype; }
void TSqlDescriptor::SetSqlSubType(int index, short value) { IBI_VAR(index).sqlsubtype = value; }
short TSqlDescriptor::SqlLen(int index) const { return IBI_VAR(index).sqllen; }
void TSqlDescriptor::SetSqlLen(int index, short value) { IBI_VAR(index).sqllen = value; }
char* TSqlDescriptor::SqlData(int index) const { return IBI_VAR(index).sqldata; }
void TSqlDescriptor::SetSqlData(int index, char* data) { IBI_VAR(index).sqldata = data; }
short* TSqlDescriptor::SqlInd(int index) const { return IBI_VAR(index).sqlind; }
void TSqlDescriptor::SetSqlInd(int index, short* indicator) { IBI_VAR(index).sqlind = indicator; }
std::string TSqlDescriptor::SqlName(int index) const
{
    return CString(IBI_VAR(index).sqlname, IBI_VAR(index).sqlname_length, sizeof(XSQLVAR::sqlname));
}
std::string TSqlDescriptor::RelName(int index) const
{
    return CString(IBI_VAR(index).relname, IBI_VAR(index).relname_length, sizeof(XSQLVAR::relname));
}
std::string TSqlDescriptor::OwnName(int index) const
{
    return CString(IBI_VAR(index).ownname, IBI_VAR(index).ownname_length, sizeof(XSQLVAR::ownname));
}
std::string TSqlDescriptor::AliasName(int index) const
{
    return CString(IBI_VAR(index).aliasname, IBI_VAR(index).aliasname_length, sizeof(XSQLVAR::aliasname));
}
#undef IBI_VAR

std::size_t ArrayDescriptorSize()
{
    return sizeof(ISC_ARRAY_DESC);
}

TArrayShape ArrayShapeOf(const std::vector<unsigned char>& descriptor)
{
    TArrayShape shape;
    if (descriptor.size() < sizeof(ISC_ARRAY_DESC))
        return shape;
    ISC_ARRAY_DESC desc;
    std::memcpy(&desc, descriptor.data(), sizeof desc);
    shape.ElementSize = desc.array_desc_length;
    if (desc.array_desc_dtype == blr_varying || desc.array_desc_dtype == blr_varying2) // 37, 38
        shape.ElementSize += 2;
    shape.ElementCount = 1;
    const int dimensions = std::clamp<int>(desc.array_desc_dimensions, 0, 16);
    for (int i = 0; i < dimensions; ++i) {
        const long extent = long(desc.array_desc_bounds[i].array_bound_upper)
            - desc.array_desc_bounds[i].array_bound_lower + 1;
        shape.ElementCount *= static_cast<std::size_t>(std::max(extent, 0L));
    }
    return shape;
}

// ---- the library ----

struct TFbBaseLibrary::TEntryPoints {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#define IBI_SLOT(name) decltype(&::name) name = nullptr;
    IBI_FB_ENTRY_POINTS(IBI_SLOT)
#undef IBI_SLOT
#pragma GCC diagnostic pop
    // Bounded message formatting, preferred where the library offers it.
    decltype(&::fb_interpret) fb_interpret = nullptr;
};

const std::vector<const char*>& TFbBaseLibrary::EntryPointNames()
{
#define IBI_NAME(name) #name,
    static const std::vector<const char*> names { IBI_FB_ENTRY_POINTS(IBI_NAME) };
#undef IBI_NAME
    return names;
}

TFbBaseLibrary::TFbBaseLibrary() : FEntries(std::make_unique<TEntryPoints>()) {}

TFbBaseLibrary::~TFbBaseLibrary() = default;

void TModuleCloser::operator()(void* module) const noexcept
{
    dlclose(module);
}

bool TFbBaseLibrary::IsLoaded()
{
    std::scoped_lock lock(FLock);
    return FModule != nullptr;
}

bool TFbBaseLibrary::Unload()
{
    std::scoped_lock lock(FLock);
    if (!FModule)
        return true;
    *FEntries = TEntryPoints();
    // Closed here rather than by the handle's closer, to tell whether the system let it go.
    return dlclose(FModule.release()) == 0;
}

bool TFbBaseLibrary::Load(const std::string& name)
{
    std::scoped_lock lock(FLock);
    if (FModule)
        return true;
    // RTLD_NODELETE: the client library starts threads and exit handlers of its own and cannot
    // be unmapped safely while the process lives; closing it only forgets our handle.
    TModuleHandle module(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE));
    if (!module)
        throw Exception(Fmt(SCantLoadLibrary, name));
    bool complete = true;
#define IBI_RESOLVE(name)                                                                       \
    FEntries->name = reinterpret_cast<decltype(FEntries->name)>(dlsym(module.get(), #name));   \
    complete = complete && FEntries->name != nullptr;
    IBI_FB_ENTRY_POINTS(IBI_RESOLVE)
#undef IBI_RESOLVE
    if (!complete) {
        *FEntries = TEntryPoints();
        throw Exception(SIncorrectVersion); // the module closes itself
    }
    FEntries->fb_interpret = reinterpret_cast<decltype(FEntries->fb_interpret)>(dlsym(module.get(), "fb_interpret"));
    FModule = std::move(module);
    return true;
}

void ShutdownClientLibrary(const std::string& name)
{
    const TModuleHandle module(dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD));
    if (!module)
        return; // never loaded: nothing runs
    // Without a timeout the shutdown runs on this thread and is over when the call returns.
    if (const auto shutdown = reinterpret_cast<decltype(&::fb_shutdown)>(dlsym(module.get(), "fb_shutdown")))
        shutdown(0, fb_shutrsn_app_stopped);
}

TFbLibrary::TFbLibrary() = default;
TFbLibrary::~TFbLibrary() = default;

void TFbLibrary::SetSegmentSize(std::uint16_t value)
{
    if (value == 0)
        IBI_FB_ASSERTION_FAILED(SAssertionFailure);
    FSegmentSize = value;
}

void TFbLibrary::CheckFbApiCall(TIscStatus status)
{
    const auto code = static_cast<std::uint32_t>(status);
    if (code == 0 || !FRaiseErrors || (code >> 30) != 0)
        return;
    std::scoped_lock lock(FLock);
    TFbErrorClass errorClass = FbErrorClassOf(status);
    if (code == StatusCode(isc_except) && OnGetDBExceptionClass)
        OnGetDBExceptionClass(static_cast<int>(FStatus[3]), errorClass);
    if ((code == StatusCode(isc_lost_db_connection) || code == StatusCode(isc_network_error)) && OnConnectionLost) {
        // The message comes from this call's status vector, which the disconnect reuses:
        // build the error first, then let the connection close, then raise.
        const std::unique_ptr<EFbError> error = MakeError(errorClass, status);
        OnConnectionLost(*this);
        error->Raise();
    }
    RaiseError(errorClass, status);
}

namespace {

// The isc_arg_gds codes of a status vector up to its end or its first warning.
std::vector<long> StatusCodes(const ISC_STATUS* vector)
{
    std::vector<long> codes;
    for (int i = 0; i + 1 < StatusVectorLength && vector[i] != isc_arg_end && vector[i] != isc_arg_warning;) {
        if (vector[i] == isc_arg_gds)
            codes.push_back(static_cast<long>(vector[i + 1]));
        i += vector[i] == isc_arg_cstring ? 3 : 2;
    }
    return codes;
}

} // namespace

void TFbLibrary::RaiseError(TFbErrorClass errorClass, TIscStatus status)
{
    MakeError(errorClass, status)->Raise();
    std::abort(); // Raise always throws
}

std::unique_ptr<EFbError> TFbLibrary::MakeError(TFbErrorClass errorClass, TIscStatus status)
{
    std::scoped_lock lock(FLock);
    std::string message;
    const ISC_STATUS* vector = FStatus;
    // isc_interprete writes up to 1024 bytes whatever the buffer; give it that much.
    char buffer[1024];
    for (int line = 0; line < StatusVectorLength; ++line) {
        ISC_LONG length = 0;
        if (FEntries->fb_interpret)
            length = FEntries->fb_interpret(buffer, 513, &vector);
        else if (FEntries->isc_interprete)
            length = FEntries->isc_interprete(buffer, const_cast<ISC_STATUS**>(&vector));
        if (length < 1)
            break;
        message.append(buffer, std::min<std::size_t>(length, std::strlen(buffer)));
        message += '\n';
    }
    const int sqlCode = FEntries->isc_sqlcode ? static_cast<int>(FEntries->isc_sqlcode(FStatus)) : 0;
    if (sqlCode != 0)
        message += SQLInterprete(sqlCode) + '\n';
    const int errorCode = static_cast<int>(static_cast<std::uint32_t>(status) & 0xFFFFu);
    message += Fmt(SErrorCode, errorCode);
    std::unique_ptr<EFbError> error = errorClass(message);
    const EFbError& made = *error;
    if (typeid(made) == typeid(EFbException))
        static_cast<EFbException&>(*error).SetNumber(static_cast<int>(FStatus[3]));
    error->SetSQLCode(sqlCode);
    error->SetErrorCode(errorCode);
    error->SetGdsCodes(StatusCodes(FStatus));
    return error;
}

void TFbLibrary::AttachDatabase(const std::string& fileName, TFbHandle& dbHandle,
    const std::string& params, char separator)
{
    AttachDatabaseDPB(fileName, dbHandle, BuildDPB(params, separator));
}

void TFbLibrary::AttachDatabaseDPB(const std::string& fileName, TFbHandle& dbHandle, const std::string& dpb)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_attach_database(FStatus, static_cast<short>(TextLength(fileName)),
        fileName.c_str(), &dbHandle, static_cast<short>(dpb.size()), dpb.data()));
}

void TFbLibrary::DetachDatabase(TFbHandle& dbHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_detach_database(FStatus, &dbHandle));
    dbHandle = 0;
}

void TFbLibrary::TransactionStart(TFbHandle& trHandle, TFbHandle& dbHandle, const std::string& tpb)
{
    TransactionStartMultiple(trHandle, { { &dbHandle, &tpb } });
}

void TFbLibrary::TransactionStartMultiple(TFbHandle& trHandle, const std::vector<TTransactionTarget>& targets)
{
    std::vector<TTransactionBlock> blocks;
    blocks.reserve(targets.size());
    for (const TTransactionTarget& target : targets)
        blocks.push_back({ target.DbHandle, static_cast<ISC_LONG>(target.Tpb->size()),
            target.Tpb->empty() ? nullptr : target.Tpb->data() });
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_start_multiple(FStatus, &trHandle,
        static_cast<short>(blocks.size()), blocks.data()));
}

void TFbLibrary::TransactionCommit(TFbHandle& trHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_commit_transaction(FStatus, &trHandle));
    trHandle = 0;
}

void TFbLibrary::TransactionRollback(TFbHandle& trHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_rollback_transaction(FStatus, &trHandle));
    trHandle = 0;
}

void TFbLibrary::TransactionCommitRetaining(TFbHandle& trHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_commit_retaining(FStatus, &trHandle));
}

void TFbLibrary::TransactionRollbackRetaining(TFbHandle& trHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_rollback_retaining(FStatus, &trHandle));
}

namespace {
XSQLDA* AreaOf(TSQLDA* area)
{
    return area && area->FieldCount() > 0 ? Sqlda(area->Descriptor().Area()) : nullptr;
}
}

void TFbLibrary::DSQLExecuteImmediate(TFbHandle& dbHandle, TFbHandle& trHandle,
    const std::string& statement, int dialect, TSQLDA* params)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_execute_immediate(FStatus, &dbHandle, &trHandle,
        TextLength(statement), statement.c_str(), static_cast<unsigned short>(dialect), AreaOf(params)));
}

void TFbLibrary::DSQLAllocateStatement(TFbHandle& dbHandle, TFbHandle& stHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_allocate_statement(FStatus, &dbHandle, &stHandle));
}

int TFbLibrary::DSQLPrepare(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle,
    const std::string& statement, int dialect, TSQLResult* result)
{
    std::scoped_lock lock(FLock);
    if (result)
        result->Resize(0);
    XSQLDA* area = result ? Sqlda(result->Descriptor().Area()) : nullptr;
    CheckFbApiCall(FEntries->isc_dsql_prepare(FStatus, &trHandle, &stHandle, TextLength(statement),
        statement.c_str(), static_cast<unsigned short>(dialect), area));
    const ISC_SCHAR item = isc_info_sql_stmt_type;
    ISC_SCHAR info[8] = {};
    CheckFbApiCall(FEntries->isc_dsql_sql_info(FStatus, &stHandle, 1, &item, sizeof info, info));
    // Answer: the item, a 16-bit length, then the value, little-endian.
    const int length = std::min(static_cast<unsigned char>(info[1]) | static_cast<unsigned char>(info[2]) << 8, 4);
    std::uint32_t type = 0;
    for (int i = length - 1; i >= 0; --i)
        type = type << 8 | static_cast<unsigned char>(info[3 + i]);
    if (result) {
        const int columns = area->sqld;
        result->Resize(0);
        if (columns > 0) {
            result->Resize(columns);
            DSQLDescribe(dbHandle, trHandle, *result, dialect, stHandle);
        }
    }
    return static_cast<int>(type) - 1;
}

void TFbLibrary::DSQLDescribe(TFbHandle& dbHandle, TFbHandle& trHandle, TSQLResult& result,
    int dialect, TFbHandle& stHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_describe(FStatus, &stHandle, static_cast<unsigned short>(dialect),
        Sqlda(result.Descriptor().Area())));
    result.ArrayColumns().clear();
    TSqlDescriptor& descriptor = result.Descriptor();
    for (int i = 0; i < result.FieldCount(); ++i) {
        if ((descriptor.SqlType(i) & ~1) != SQL_ARRAY)
            continue;
        std::vector<unsigned char> bytes(sizeof(ISC_ARRAY_DESC));
        const std::string relation = descriptor.RelName(i), column = descriptor.SqlName(i);
        CheckFbApiCall(FEntries->isc_array_lookup_bounds(FStatus, &dbHandle, &trHandle,
            relation.c_str(), column.c_str(), reinterpret_cast<ISC_ARRAY_DESC*>(bytes.data())));
        const TArrayShape shape = ArrayShapeOf(bytes);
        result.ArrayColumns().push_back({ i, shape.ElementSize * shape.ElementCount, std::move(bytes) });
    }
    result.AllocateDataBuffer();
}

void TFbLibrary::DSQLExecute(TFbHandle& trHandle, TFbHandle& stHandle, int dialect, TSQLDA* params)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_execute(FStatus, &trHandle, &stHandle,
        static_cast<unsigned short>(dialect), AreaOf(params)));
}

void TFbLibrary::DSQLExecute2(TFbHandle& trHandle, TFbHandle& stHandle, int dialect, TSQLDA* params,
    TSQLResult* result)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_execute2(FStatus, &trHandle, &stHandle,
        static_cast<unsigned short>(dialect), AreaOf(params), AreaOf(result)));
}

void TFbLibrary::DSQLFreeStatement(TFbHandle& stHandle, int option)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_free_statement(FStatus, &stHandle, static_cast<unsigned short>(option)));
    if (option == DSQL_drop)
        stHandle = 0;
}

void TFbLibrary::DSQLSetCursorName(TFbHandle& stHandle, const std::string& name)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_dsql_set_cursor_name(FStatus, &stHandle, name.c_str(), 0));
}

std::int64_t TFbLibrary::DSQLRowsAffected(TFbHandle& stHandle)
{
    std::scoped_lock lock(FLock);
    const ISC_SCHAR item = isc_info_sql_records;
    ISC_SCHAR info[64] = {};
    CheckFbApiCall(FEntries->isc_dsql_sql_info(FStatus, &stHandle, 1, &item, sizeof info, info));
    if (info[0] != isc_info_sql_records)
        return 0;
    // The records item holds clusters of its own: one count per kind of change.
    const std::size_t length = std::min<std::size_t>(
        static_cast<unsigned char>(info[1]) | std::size_t(static_cast<unsigned char>(info[2])) << 8, sizeof info - 3);
    const std::span<const ISC_SCHAR> counts(info + 3, length);
    std::int64_t rows = 0;
    for (const ISC_SCHAR kind : { isc_info_req_insert_count, isc_info_req_update_count, isc_info_req_delete_count })
        rows += static_cast<std::int64_t>(InfoValue(counts, kind).value_or(0));
    return rows;
}

bool TFbLibrary::DatabaseForcedWrites(TFbHandle& dbHandle)
{
    std::scoped_lock lock(FLock);
    const ISC_SCHAR item = isc_info_forced_writes;
    ISC_SCHAR info[16] = {};
    CheckFbApiCall(FEntries->isc_database_info(FStatus, &dbHandle, 1, &item, sizeof info, info));
    return InfoValue(info, isc_info_forced_writes).value_or(0) != 0;
}

bool TFbLibrary::DSQLFetch(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle, int dialect,
    TSQLResult* result)
{
    return Fetch(dbHandle, trHandle, stHandle, dialect, result, false);
}

bool TFbLibrary::DSQLFetchWithBlobs(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle,
    int dialect, TSQLResult* result)
{
    return Fetch(dbHandle, trHandle, stHandle, dialect, result, true);
}

bool TFbLibrary::Fetch(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& stHandle, int dialect,
    TSQLResult* result, bool withBlobs)
{
    std::scoped_lock lock(FLock);
    if (result)
        result->ClearEndOfCursor();
    const ISC_STATUS status = FEntries->isc_dsql_fetch(FStatus, &stHandle,
        static_cast<unsigned short>(dialect), AreaOf(result));
    if (status == FetchEndOfCursor) {
        if (result)
            result->SetEndOfCursor();
        return false;
    }
    CheckFbApiCall(status);
    if (!result)
        return true;
    TSqlDescriptor& descriptor = result->Descriptor();
    for (const TSQLResult::TArrayColumn& column : result->ArrayColumns()) {
        if (result->IsNull(column.Index))
            continue;
        ISC_QUAD arrayId;
        std::memcpy(&arrayId, descriptor.SqlData(column.Index), sizeof arrayId);
        ISC_LONG sliceLength = static_cast<ISC_LONG>(column.DataSize);
        char* slice = descriptor.SqlData(column.Index) + descriptor.SqlLen(column.Index);
        CheckFbApiCall(FEntries->isc_array_get_slice(FStatus, &dbHandle, &trHandle, &arrayId,
            reinterpret_cast<const ISC_ARRAY_DESC*>(column.Descriptor.data()), slice, &sliceLength));
    }
    if (withBlobs) {
        for (const int index : result->BlobColumns()) {
            if (result->IsNull(index)) {
                result->SetBlob(index, {});
                continue;
            }
            TIscQuad blobId;
            std::memcpy(&blobId, descriptor.SqlData(index), sizeof blobId);
            TFbHandle blobHandle = 0;
            BlobOpen(dbHandle, trHandle, blobHandle, blobId);
            std::vector<char> bytes;
            try {
                BlobReadBuffer(blobHandle, bytes);
            } catch (...) {
                FEntries->isc_cancel_blob(FStatus, &blobHandle); // the read error travels on
                throw;
            }
            BlobClose(blobHandle);
            result->SetBlob(index, std::move(bytes));
        }
    }
    if (result->CachedFetch())
        result->AppendToCache();
    return true;
}

void TFbLibrary::BlobOpen(TFbHandle& dbHandle, TFbHandle& trHandle, TFbHandle& blobHandle,
    const TIscQuad& blobId, const std::string& bpbText)
{
    const std::string bpb = BuildBPB(bpbText);
    ISC_QUAD id;
    std::memcpy(&id, &blobId, sizeof id);
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_open_blob2(FStatus, &dbHandle, &trHandle, &blobHandle, &id,
        static_cast<ISC_USHORT>(bpb.size()), reinterpret_cast<const ISC_UCHAR*>(bpb.data())));
}

bool TFbLibrary::BlobGetSegment(TFbHandle& blobHandle, unsigned& length, unsigned bufferLength, char* buffer)
{
    std::scoped_lock lock(FLock);
    unsigned short actual = 0;
    const ISC_STATUS status = FEntries->isc_get_segment(FStatus, &blobHandle, &actual,
        static_cast<unsigned short>(std::min(bufferLength, 65535u)), buffer);
    length = actual;
    if (status == 0 || FStatus[1] == isc_segment)
        return true;
    if (FStatus[1] == isc_segstr_eof)
        return false;
    CheckFbApiCall(status);
    return false;
}

void TFbLibrary::BlobReadBuffer(TFbHandle& blobHandle, std::vector<char>& buffer)
{
    std::scoped_lock lock(FLock);
    const ISC_SCHAR item = isc_info_blob_total_length;
    ISC_SCHAR info[16] = {};
    CheckFbApiCall(FEntries->isc_blob_info(FStatus, &blobHandle, 1, &item, sizeof info, info));
    std::size_t total = 0;
    if (info[0] == isc_info_blob_total_length) {
        const int length = std::min(static_cast<unsigned char>(info[1]) | static_cast<unsigned char>(info[2]) << 8, 8);
        std::uint64_t value = 0;
        for (int i = length - 1; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(info[3 + i]);
        total = static_cast<std::size_t>(value);
    }
    buffer.resize(total);
    std::size_t done = 0;
    while (done < total) {
        unsigned length = 0;
        const auto wanted = static_cast<unsigned>(std::min<std::size_t>(total - done, 65535));
        if (!BlobGetSegment(blobHandle, length, wanted, buffer.data() + done))
            break;
        done += std::min<std::size_t>(length, wanted);
        if (length == 0)
            break;
    }
    buffer.resize(done);
}

void TFbLibrary::BlobClose(TFbHandle& blobHandle)
{
    std::scoped_lock lock(FLock);
    CheckFbApiCall(FEntries->isc_close_blob(FStatus, &blobHandle));
}

int TFbLibrary::SQLCode()
{
    std::scoped_lock lock(FLock);
    return static_cast<int>(FEntries->isc_sqlcode(FStatus));
}

std::string TFbLibrary::SQLInterprete(int sqlCode)
{
    std::scoped_lock lock(FLock);
    char buffer[256] = {};
    FEntries->isc_sql_interprete(static_cast<short>(sqlCode), buffer, 255);
    buffer[255] = 0;
    return buffer;
}

// ---- parameter blocks ----

std::string BuildDPB(const std::string& params, char separator)
{
    std::string dpb(1, static_cast<char>(isc_dpb_version1));
    std::size_t start = 0;
    while (start <= params.size()) {
        std::size_t end = params.find(separator, start);
        if (end == std::string::npos)
            end = params.size();
        const std::string piece = params.substr(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        const std::size_t equals = piece.find('=');
        const std::string name = AsciiLowerCase(Trim(piece.substr(0, equals)));
        const std::string value = equals == std::string::npos ? std::string() : Trim(piece.substr(equals + 1));
        const auto keyword = std::find_if(std::begin(DpbKeywords), std::end(DpbKeywords),
            [&](const TDpbKeyword& k) { return name == k.Name; });
        if (keyword == std::end(DpbKeywords))
            continue;
        const char code = static_cast<char>(keyword - std::begin(DpbKeywords) + 1);
        switch (keyword->Kind) {
        case TDpbKind::dkNever:
            break;
        case TDpbKind::dkFlag:
            dpb += code;
            break;
        case TDpbKind::dkInteger: {
            long long number = 0;
            if (!TryParseInteger(value, number) || number <= 0)
                break;
            const int bytes = number < 256 ? 1 : number <= 65535 ? 2 : 4;
            dpb += code;
            dpb += static_cast<char>(bytes);
            for (int i = 0; i < bytes; ++i)
                dpb += static_cast<char>((static_cast<std::uint64_t>(number) >> (8 * i)) & 0xFF);
            break;
        }
        case TDpbKind::dkString:
            if (value.empty())
                break;
            dpb += code;
            dpb += static_cast<char>(std::min<std::size_t>(value.size(), 255));
            dpb += value.substr(0, 255);
            break;
        }
    }
    return dpb;
}

std::string BuildBPB(const std::string& text)
{
    static constexpr const char* Names[] = { "source_type", "target_type", "type", "source_interp",
        "target_interp", "filter_parameter" };
    if (text.empty())
        return {};
    std::string bpb(1, static_cast<char>(isc_bpb_version1));
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string piece = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = piece.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = AsciiLowerCase(Trim(piece.substr(0, equals)));
        long long value = 0;
        const auto found = std::find_if(std::begin(Names), std::end(Names),
            [&](const char* n) { return name == n; });
        const int code = static_cast<int>(found - std::begin(Names)) + 1;
        if (found == std::end(Names) || code == isc_bpb_filter_parameter
            || !TryParseInteger(piece.substr(equals + 1), value)
            || value < -128 || value > 127)
            continue;
        // Every item of a blob parameter block carries its length byte.
        bpb += static_cast<char>(code);
        bpb += static_cast<char>(1);
        bpb += static_cast<char>(value);
    }
    return bpb;
}

// ---- dates ----

double TimestampToDateTime(const TIscTimestamp& value)
{
    return static_cast<double>(value.Date) - DateOffset + value.Time / TimeUnitsPerDay;
}

TIscTimestamp DateTimeToTimestamp(double value)
{
    // Beyond the years 1..9999 by far: no day number of 32 bits holds it.
    if (!(std::fabs(value) < 1e8))
        throw EFbConvertError(SCastError);
    const double days = std::trunc(value);
    const double fraction = std::fabs(value - days);
    TIscTimestamp result;
    auto time = static_cast<long long>(std::llround(fraction * TimeUnitsPerDay));
    long long day = static_cast<long long>(days) + DateOffset;
    if (time >= static_cast<long long>(TimeUnitsPerDay)) { // rounding reached midnight
        time = 0;
        ++day;
    }
    result.Date = static_cast<std::int32_t>(day);
    result.Time = static_cast<std::uint32_t>(time);
    return result;
}
