#include "PortLibrary.h"

namespace {

constexpr wchar_t kLibraryFileName[] = L"vx.dll";

std::wstring SystemMessage(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return message;
}

template <class T>
bool BindEntry(HMODULE module, const char* name, T& entry)
{
    entry = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return entry != nullptr;
}

}  // namespace

std::wstring CPortLibrary::FormLibraryPath(const std::wstring& tempFolder)
{
    std::wstring path = tempFolder;
    if (path.empty() || path.back() != L'\\')
        path += L'\\';
    return path + kLibraryFileName;
}

bool CPortLibrary::Fail(const std::wstring& reason, DWORD error)
{
    m_failure = L"The serial port library could not be prepared: " + reason;
    if (error != ERROR_SUCCESS) {
        m_failure += L"\r\n(error " + std::to_wstring(error);
        const std::wstring system = SystemMessage(error);
        if (!system.empty())
            m_failure += L": " + system;
        m_failure += L")";
    }
    m_failure += L"\r\n\r\nThe Test and OK buttons are disabled.";
    return false;
}

bool CPortLibrary::Deploy(HMODULE module)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(kResourceId), L"DLL");
    if (resource == nullptr)
        return Fail(L"the program file does not contain it.", GetLastError());
    const DWORD size = SizeofResource(module, resource);
    if (size == 0)
        return Fail(L"the program's copy of it is empty.", GetLastError());
    HGLOBAL loaded = LoadResource(module, resource);
    const void* image = loaded ? LockResource(loaded) : nullptr;
    if (image == nullptr)
        return Fail(L"the program's copy of it cannot be read.", GetLastError());

    // One character of the buffer is kept for the backslash that may have to be added.
    const DWORD length = GetTempPathW(kTempFolderCapacity - 1, m_tempFolder);
    if (length == 0 || length >= kTempFolderCapacity - 1)
        return Fail(L"the temporary folder path is too long or cannot be read.", length ? 0 : GetLastError());
    m_libraryPath = FormLibraryPath(std::wstring(m_tempFolder, length));

    if (!WriteImage(image, size))
        return false;
    m_module = LoadLibraryW(m_libraryPath.c_str());
    if (m_module == nullptr)
        return Fail(L"the file " + m_libraryPath + L" could not be loaded.", GetLastError());
    return Bind();
}

bool CPortLibrary::WriteImage(const void* image, DWORD size)
{
    HANDLE file = CreateFileW(m_libraryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(L"the file " + m_libraryPath + L" could not be written.", GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(file, image, size, &written, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (!ok || written != size)
        return Fail(L"the file " + m_libraryPath + L" could not be written.", error);
    return true;
}

// In the order of the entry-point table; the first entry that is missing is reported.
bool CPortLibrary::Bind()
{
    std::string missing;
    auto bind = [&](const char* name, auto& entry) {
        if (!BindEntry(m_module, name, entry) && missing.empty())
            missing = name;
    };
    bind("TestPort", m_entries.TestPort);
    bind("OpenPort", m_entries.OpenPort);
    bind("ListSerialComm", m_entries.ListSerialComm);
    bind("recvdata", m_entries.recvdata);
    bind("WaitRecvdata", m_entries.WaitRecvdata);
    bind("senddata", m_entries.senddata);
    bind("ClosePort", m_entries.ClosePort);
    if (missing.empty())
        return true;
    return Fail(L"its function " + std::wstring(missing.begin(), missing.end()) + L" is missing from " +
                    m_libraryPath + L".",
                ERROR_SUCCESS);
}

void CPortLibrary::Remove()
{
    if (m_module == nullptr)
        return;
    FreeLibrary(m_module);
    m_module = nullptr;
    DeleteFileW(m_libraryPath.c_str());  // a failed deletion is ignored
}
