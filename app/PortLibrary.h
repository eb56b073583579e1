// The port library that the program carries inside itself (resource "DLL", 132): written
// to the temporary folder as vx.dll at start-up, loaded, its seven entries bound by name;
// unloaded and deleted at exit. Paths use the wide functions, so a temporary folder whose
// name the ANSI code page cannot spell works too.
#ifndef QUILLANE_PORTLIBRARY_H
#define QUILLANE_PORTLIBRARY_H

#include <windows.h>

#include <string>

#include "PortEntryPoints.h"

class CPortLibrary {
public:
    static constexpr int kResourceId = 132;
    static constexpr DWORD kTempFolderCapacity = 260;  // characters, terminator included

    CPortLibrary() = default;
    CPortLibrary(const CPortLibrary&) = delete;
    CPortLibrary& operator=(const CPortLibrary&) = delete;

    // Deploys and binds from the resources of module. On failure the entries that could
    // not be bound stay null and FailureMessage() tells which step failed and why.
    bool Deploy(HMODULE module);
    // Unloads the library and deletes its file, if it was loaded.
    void Remove();

    const PortEntryPoints& Entries() const { return m_entries; }
    const std::wstring& LibraryPath() const { return m_libraryPath; }
    const std::wstring& FailureMessage() const { return m_failure; }

    // The library path over a temporary folder path: a backslash is added only when the
    // folder does not end with one, then "vx.dll".
    static std::wstring FormLibraryPath(const std::wstring& tempFolder);

private:
    bool Fail(const std::wstring& reason, DWORD error);
    bool WriteImage(const void* image, DWORD size);
    bool Bind();

    wchar_t m_tempFolder[kTempFolderCapacity] = {};
    std::wstring m_libraryPath;
    HMODULE m_module = nullptr;
    PortEntryPoints m_entries;
    std::wstring m_failure;
};

#endif
