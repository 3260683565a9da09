// Runs a Windows program with environment variables that Wine does not hand over from Linux (it
// drops every QT_* variable, so QT_QPA_PLATFORM=offscreen would never reach a test):
//   winenv.exe NAME=VALUE... -- PROGRAM [ARGUMENTS...]
// The program inherits the console and the standard handles; its exit code is winenv's.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// One argument quoted so that CommandLineToArgvW, and the C runtime, read it back unchanged.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    for (auto it = arg.begin();; ++it) {
        size_t backslashes = 0;
        while (it != arg.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == arg.end()) {
            out.append(backslashes * 2, L'\\');
            break;
        }
        if (*it == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out.push_back(L'"');
        } else {
            out.append(backslashes, L'\\');
            out.push_back(*it);
        }
    }
    out.push_back(L'"');
    return out;
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return 125;
    int i = 1;
    for (; i < argc && std::wcscmp(argv[i], L"--") != 0; ++i) {
        const std::wstring pair = argv[i];
        const size_t equals = pair.find(L'=');
        if (equals == std::wstring::npos || equals == 0) {
            std::fwprintf(stderr, L"winenv: NAME=VALUE expected, not %ls\n", argv[i]);
            return 125;
        }
        SetEnvironmentVariableW(pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str());
    }
    if (i + 1 >= argc) {
        std::fwprintf(stderr, L"winenv: NAME=VALUE... -- PROGRAM [ARGUMENTS...]\n");
        return 125;
    }
    std::wstring command;
    for (int j = i + 1; j < argc; ++j) {
        if (!command.empty())
            command += L' ';
        command += quoted(argv[j]);
    }
    // The program writes where winenv writes: Wine's pipes to CTest, not a console of its own.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fwprintf(stderr, L"winenv: cannot start %ls (error %lu)\n", argv[i + 1],
                      GetLastError());
        return 127;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LocalFree(argv);
    return static_cast<int>(code);
}
