// Whole-file read and single-step replace of the tileset file, through the Win32 file API so
// that every failure comes back as the system's error code for the message shown to the user.
#include "app/whole_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "app/wide_text.h"

namespace {

// Closes a handle when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() { close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool close() {
        if (!ok()) return true;
        const bool closed = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    HANDLE handle_;
};

DWORD write_all(HANDLE file, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file, content.data() + done, chunk, &written, nullptr)) return GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        done += written;
    }
    return 0;
}

// The folder part of `path` (without the last separator), or "." for a bare name.
void folder_of(const char* path, char* folder, size_t capacity) {
    const char* slash = std::strrchr(path, '\\');
    const char* forward = std::strrchr(path, '/');
    if (forward != nullptr && (slash == nullptr || forward > slash)) slash = forward;
    if (slash == nullptr) {
        lstrcpynA(folder, ".", static_cast<int>(capacity));
        return;
    }
    size_t length = static_cast<size_t>(slash - path);
    if (length == 0 || (length == 2 && path[1] == ':')) ++length;   // keep the root's separator
    if (length >= capacity) length = capacity - 1;
    std::memcpy(folder, path, length);
    folder[length] = '\0';
}

// The access rights (DACL) of `file` in self-relative form, or empty.
std::string access_rights_of(const char* file) {
    DWORD needed = 0;
    GetFileSecurityW(widen(file).c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    if (needed == 0) return std::string();
    std::string descriptor(needed, '\0');
    if (!GetFileSecurityW(widen(file).c_str(), DACL_SECURITY_INFORMATION, &descriptor[0], needed, &needed))
        return std::string();
    descriptor.resize(needed);
    return descriptor;
}

// Gives `to` the attributes (hidden, system, archive, not indexed) and the access rights of
// `from`, so that a replaced file keeps who may read and write it. Rights that `to` already
// has as created are not set again: under Wine a descriptor does not carry the Unix mode
// bits, and setting one would widen them.
void copy_protection(const char* from, const char* to) {
    const DWORD attributes = GetFileAttributesW(widen(from).c_str());
    constexpr DWORD KEPT = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & KEPT) != 0)
        SetFileAttributesW(widen(to).c_str(), attributes & KEPT);
    try {
        std::string rights = access_rights_of(from);
        if (!rights.empty() && rights != access_rights_of(to))
            SetFileSecurityW(widen(to).c_str(), DACL_SECURITY_INFORMATION, &rights[0]);
    } catch (const std::bad_alloc&) {
    }
}

// UTF-16 `text` as UTF-8 in `buffer`; false when it does not fit.
bool narrow_into(const wchar_t* text, char* buffer, size_t capacity) {
    const std::string utf8 = narrow(text);
    if (utf8.size() >= capacity) return false;
    std::memcpy(buffer, utf8.c_str(), utf8.size() + 1);
    return true;
}

}  // namespace

BOOL WINAPI move_file_replacing(LPCSTR from, LPCSTR to, DWORD flags) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), flags);
}

bool temporary_path_for(const char* path, char* temporary, size_t capacity) {
    const size_t length = std::strlen(path);
    const size_t suffix = std::strlen(TEMPORARY_SUFFIX);
    if (length + suffix >= capacity) return false;
    std::memcpy(temporary, path, length);
    std::memcpy(temporary + length, TEMPORARY_SUFFIX, suffix + 1);
    return true;
}

void remove_stale_temporary(const char* path) {
    char temporary[4 * MAX_PATH];
    if (temporary_path_for(path, temporary, sizeof temporary)) DeleteFileW(widen(temporary).c_str());
}

DWORD read_whole_file(const char* path, std::string& content) {
    FileHandle file(CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return GetLastError();
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (size.QuadPart > LARGEST_TILESET_FILE) return ERROR_FILE_TOO_LARGE;
    try {
        content.assign(static_cast<size_t>(size.QuadPart), '\0');
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    size_t done = 0;
    while (done < content.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), &content[done], static_cast<DWORD>(content.size() - done), &got, nullptr))
            return GetLastError();
        if (got == 0) break;   // the file shrank meanwhile
        done += got;
    }
    content.resize(done);
    return 0;
}

DWORD replace_whole_file(const char* path, const std::string& content,
                         BOOL(WINAPI* move)(LPCSTR, LPCSTR, DWORD)) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return ERROR_ACCESS_DENIED;
    char temporary[4 * MAX_PATH];
    if (temporary_path_for(path, temporary, sizeof temporary)) {
        DeleteFileW(widen(temporary).c_str());   // one left by a save that did not finish
    } else {
        std::string folder(std::strlen(path) + 2, '\0');
        folder_of(path, &folder[0], folder.size());
        wchar_t unique[MAX_PATH];
        if (!GetTempFileNameW(widen(folder.c_str()).c_str(), L"tvt", 0, unique) ||
            !narrow_into(unique, temporary, sizeof temporary))
            return GetLastError();
    }

    DWORD error = 0;
    {
        FileHandle file(CreateFileW(widen(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.ok()) error = GetLastError();
        if (error == 0) error = write_all(file.get(), content);
        if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
        if (!file.close() && error == 0) error = GetLastError();
    }
    if (error == 0 && attributes != INVALID_FILE_ATTRIBUTES) copy_protection(path, temporary);
    if (error == 0 && !move(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        if (error == 0) error = ERROR_WRITE_FAULT;
    }
    if (error != 0) DeleteFileW(widen(temporary).c_str());
    return error;
}
