#pragma once
#include <string>

// What the embedded database engine needs to serve any user, set before the client library
// is loaded: a lock folder this user can write, and the user an embedded connection names.

// Where the engine keeps its lock files unless FIREBIRD_LOCK names another folder.
inline constexpr const char* DefaultLockFolder = "/tmp/firebird";

inline constexpr const char* SNoLockFolder =
    "The database engine's lock folder %s cannot be written and no folder of your own could be "
    "made for it; set FIREBIRD_LOCK to a folder you can write.";

// When FIREBIRD_LOCK is not set and this user cannot use the default lock folder (another
// user's, without write permission for this one), sets FIREBIRD_LOCK to a folder of the user's
// own, made if needed: $XDG_RUNTIME_DIR/firebird, else images-by-id/firebird in the user's cache
// folder ($XDG_CACHE_HOME, else ~/.cache). Returns SNoLockFolder filled in when none can be
// made, empty otherwise. Users with different lock folders cannot share a catalogue unsafely:
// the engine refuses a file that an engine of another lock folder has open.
std::string PrepareLockFolder();

// The user an embedded connection names: SYSDBA, the owner of a catalogue made with isql by
// root, so that a catalogue file the user may read and write is used with full rights (an
// embedded connection checks no password). Empty when ISC_USER is set: the client library
// then names that user itself.
std::string EmbeddedUserName();
