// What an install tells a person beyond its dialog: what it installs from where, what it leaves
// out, and why it fails where the platform's own report would not say. The program's start-up
// says where the notes go; until then they go nowhere. Paths are device paths.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/kernel/wintypes.h"

namespace install {

class Notes {
  public:
    virtual ~Notes() = default;
    // Before the first copy: the entry as listed, its key and its package folder.
    virtual void Installing(LPCWSTR /*pszName*/, LPCWSTR /*pszKey*/, LPCWSTR /*pszProduct*/) {}
    // The package folder is missing, or holds neither tree: the package counts as empty.
    virtual void Missing(LPCWSTR /*pszProduct*/, bool /*bFolderExists*/) {}
    // A source folder left out with everything below it (its name begins with ".").
    virtual void Skipped(LPCWSTR /*pszDir*/, LPCWSTR /*pszName*/) {}
    // Failures found by the install itself, which the platform's report of the failed call
    // would not explain. Folders end with a backslash; names are as the package spells them.
    // A path, dir + name, longer than the device's paths can be.
    virtual void Overlong(std::u16string_view /*dir*/, std::u16string_view /*name*/) {}
    // Two entries of one package folder whose names differ only in case.
    virtual void NameClash(LPCWSTR /*pszDir*/, LPCWSTR /*pszName*/, LPCWSTR /*pszOther*/) {}
    // A destination root of the device that is missing.
    virtual void NoDestination(LPCWSTR /*pszRoot*/) {}
    // The card cannot take the package: bytes needed (whole clusters, less what the files it
    // replaces free) against the bytes free there; nothing has been copied.
    virtual void NoRoom(LPCWSTR /*pszRoot*/, std::uint64_t /*need*/, std::uint64_t /*free*/,
                        DWORD /*cluster*/) {}
    // A stop event ended the copy after a whole file: copied of total visible files, newFiles of
    // them new to the card.
    virtual void Interrupted(DWORD /*dwCtrlType*/, int /*copied*/, int /*total*/,
                             int /*newFiles*/) {}
    // The check of the device against a package: a file or folder it lacks or holds otherwise
    // (why: "" for other bytes), then the outcome.
    virtual void CheckMissing(LPCWSTR /*pszPath*/) {}
    virtual void CheckDifferent(LPCWSTR /*pszPath*/, const char* /*pszWhy*/) {}
    virtual void Checked(LPCWSTR /*pszName*/, LPCWSTR /*pszKey*/, int /*files*/, int /*missing*/,
                         int /*different*/) {}
};

void SetNotes(Notes* notes);
Notes& CurrentNotes();

}  // namespace install
