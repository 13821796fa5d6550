// corvane-path add|remove FOLDER: puts FOLDER at the end of the user's PATH
// (HKCU\Environment) or takes it out again. The value may be of any length;
// its type and every other entry stay as they were, so that adding and then
// removing gives back the value byte for byte. Exit status: 0 done, 1
// nothing to do (already there, or not there), 2 failure.
#include <windows.h>

#include <string>

namespace {

const wchar_t* const EnvironmentKey = L"Environment";
const wchar_t* const PathValue = L"Path";

struct PathSetting {
    std::wstring text;
    DWORD type = REG_EXPAND_SZ;
    bool present = false;
};

bool ReadPath(HKEY key, PathSetting& path) {
    for (DWORD bytes = 4096;;) {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = bytes;
        const LSTATUS status = RegQueryValueExW(key, PathValue, nullptr, &path.type,
                                                reinterpret_cast<BYTE*>(text.data()), &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            path = PathSetting{};
            return true;
        }
        if (status == ERROR_MORE_DATA) {
            bytes = size;
            continue;
        }
        if (status != ERROR_SUCCESS || (path.type != REG_SZ && path.type != REG_EXPAND_SZ)) return false;
        text.resize(size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        path.text = text;
        path.present = true;
        return true;
    }
}

bool WritePath(HKEY key, const PathSetting& path) {
    if (path.text.empty()) return RegDeleteValueW(key, PathValue) == ERROR_SUCCESS;
    const DWORD bytes = static_cast<DWORD>((path.text.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, PathValue, 0, path.type, reinterpret_cast<const BYTE*>(path.text.c_str()),
                          bytes) == ERROR_SUCCESS;
}

bool SameFolder(const std::wstring& text, std::size_t start, std::size_t end, const std::wstring& folder) {
    return CompareStringOrdinal(text.data() + start, static_cast<int>(end - start), folder.data(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// Where the entry equal to `folder` starts and ends; npos when there is none.
std::size_t FindEntry(const std::wstring& text, const std::wstring& folder, std::size_t& end) {
    for (std::size_t start = 0; start <= text.size(); start = end + 1) {
        end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        if (SameFolder(text, start, end, folder)) return start;
    }
    return std::wstring::npos;
}

// Added with a separator of its own in front, which goes with it again.
bool Add(PathSetting& path, const std::wstring& folder) {
    std::size_t end = 0;
    if (path.present && FindEntry(path.text, folder, end) != std::wstring::npos) return false;
    path.text = path.text.empty() ? folder : path.text + L";" + folder;
    return true;
}

bool Remove(PathSetting& path, const std::wstring& folder) {
    std::size_t end = 0;
    const std::size_t start = path.present ? FindEntry(path.text, folder, end) : std::wstring::npos;
    if (start == std::wstring::npos) return false;
    if (start > 0)
        path.text.erase(start - 1, end - start + 1);
    else
        path.text.erase(0, end < path.text.size() ? end + 1 : end);
    return true;
}

// Programs started from now on see the new PATH.
void AnnounceChange() {
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(EnvironmentKey),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
}

}  // namespace

int wmain(int argumentCount, wchar_t** arguments) {
    if (argumentCount != 3 || arguments[2][0] == L'\0') return 2;
    const std::wstring action = arguments[1];
    const std::wstring folder = arguments[2];
    if (action != L"add" && action != L"remove") return 2;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, EnvironmentKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 2;
    PathSetting path;
    int status = 2;
    if (ReadPath(key, path)) {
        const bool changed = action == L"add" ? Add(path, folder) : Remove(path, folder);
        status = !changed ? 1 : WritePath(key, path) ? 0 : 2;
    }
    RegCloseKey(key);
    if (status == 0) AnnounceChange();
    return status;
}
