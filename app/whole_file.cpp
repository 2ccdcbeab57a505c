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

}  // namespace

BOOL WINAPI move_file_replacing(LPCSTR from, LPCSTR to, DWORD flags) {
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), flags);
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
    const std::wstring wide_path = widen(path);
    const DWORD attributes = GetFileAttributesW(wide_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return ERROR_ACCESS_DENIED;
    std::string folder(std::strlen(path) + 2, '\0');
    folder_of(path, &folder[0], folder.size());
    wchar_t wide_temporary[MAX_PATH];
    if (!GetTempFileNameW(widen(folder.c_str()).c_str(), L"tvt", 0, wide_temporary))
        return GetLastError();
    const std::string temporary = narrow(wide_temporary);

    DWORD error = 0;
    {
        FileHandle file(CreateFileW(wide_temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.ok()) error = GetLastError();
        if (error == 0) error = write_all(file.get(), content);
        if (error == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
        if (!file.close() && error == 0) error = GetLastError();
    }
    if (error == 0 &&
        !move(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        if (error == 0) error = ERROR_WRITE_FAULT;
    }
    if (error != 0) DeleteFileW(wide_temporary);
    return error;
}
