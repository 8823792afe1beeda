// Files through CreateFileA and the HFILE family, and the current directory.
#include <windows.h>

#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HANDLE open(const char* name, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Makes `name` hold exactly `content`.
void write_file(const char* name, const std::string& content) {
    HANDLE h = open(name, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &done, nullptr));
    ASSERT_EQ(done, content.size());
    ASSERT_TRUE(CloseHandle(h));
}

std::string read_file(const char* name) {
    HANDLE h = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    char buf[256];
    DWORD done = 0;
    ReadFile(h, buf, sizeof buf, &done, nullptr);
    CloseHandle(h);
    return std::string(buf, done);
}

// Sets (or, with nullptr, removes) an environment variable the system calls read.
void set_variable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv((std::string(name) + "=" + (value != nullptr ? value : "")).c_str());
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

std::string temp_path() {
    char buf[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof buf, buf);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

std::string open_file_contents(const char* name) {
    OFSTRUCT of;
    HFILE f = OpenFile(name, &of, OF_READ);
    if (f == HFILE_ERROR) {
        return "<not found>";
    }
    char buf[32] = {};
    const UINT n = _lread(f, buf, sizeof buf - 1);
    _lclose(f);
    return std::string(buf, n == static_cast<UINT>(HFILE_ERROR) ? 0 : n);
}

} // namespace

TEST(KernelFiles, CreateDispositionsFollowWin32) {
    struct Case {
        DWORD disposition;
        DWORD access;
        bool exists_before;
        bool opens;
        DWORD error; // last error after the call
        const char* content_after;
    };
    const Case cases[] = {
        {CREATE_NEW, GENERIC_WRITE, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_NEW, GENERIC_WRITE, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, GENERIC_WRITE, true, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, GENERIC_WRITE, false, true, ERROR_SUCCESS, ""},
        {OPEN_EXISTING, GENERIC_READ, true, true, ERROR_SUCCESS, "old"},
        {OPEN_EXISTING, GENERIC_READ, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
        {OPEN_ALWAYS, GENERIC_READ, true, true, ERROR_ALREADY_EXISTS, "old"},
        {OPEN_ALWAYS, GENERIC_READ, false, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, GENERIC_WRITE, true, true, ERROR_SUCCESS, ""},
        {TRUNCATE_EXISTING, GENERIC_WRITE, false, false, ERROR_FILE_NOT_FOUND, "<missing>"},
        {9, GENERIC_READ, true, false, ERROR_INVALID_PARAMETER, "old"},
    };
    const char* name = "kernel_disposition.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.disposition << " " << c.exists_before);
        DeleteFileA(name);
        if (c.exists_before) {
            write_file(name, "old");
        }
        SetLastError(12345);
        HANDLE h = open(name, c.access, 0, c.disposition);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(h));
        }
        EXPECT_EQ(read_file(name), c.content_after);
    }
    DeleteFileA(name);
}

TEST(KernelFiles, BadPathsAndHandlesFailWithTheirErrors) {
    // A separator after a file's name, or after a new name, makes an invalid name.
    write_file("kernel_plain.bin", "x");
    const struct {
        const char* path;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"kernel_no_such_dir\\file.bin", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"kernel_no_such_dir\\file.bin", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {".", OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"kernel_plain.bin\\", OPEN_EXISTING, ERROR_INVALID_NAME},
        {"kernel_plain.bin\\", CREATE_ALWAYS, ERROR_INVALID_NAME},
        {"kernel_plain.bin\\x", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"kernel_missing.bin\\", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"kernel_missing.bin\\", CREATE_ALWAYS, ERROR_INVALID_NAME},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_FAILS_WITH(open(c.path, GENERIC_READ | GENERIC_WRITE, 0, c.disposition),
                          INVALID_HANDLE_VALUE, c.error);
    }
    EXPECT_FAILS_WITH(DeleteFileA("kernel_missing.bin"), FALSE, ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS_WITH(DeleteFileA("kernel_no_such_dir\\x"), FALSE, ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS_WITH(DeleteFileA("kernel_missing.bin\\"), FALSE, ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS_WITH(DeleteFileA("kernel_plain.bin\\"), FALSE, ERROR_INVALID_NAME);
    for (const char* file : {"kernel_plain.bin", "kernel_plain.bin\\"}) {
        SCOPED_TRACE(file);
        const DWORD error =
            file[std::strlen(file) - 1] == '\\' ? ERROR_INVALID_NAME : ERROR_DIRECTORY;
        EXPECT_FAILS_WITH(SetCurrentDirectoryA(file), FALSE, error);
        EXPECT_FAILS_WITH(RemoveDirectoryA(file), FALSE, error);
    }
    EXPECT_TRUE(DeleteFileA("kernel_plain.bin"));

    // A closed handle, NULL and a made-up value are all just invalid.
    HANDLE h = open("kernel_stale.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(h));
    char buf[4];
    DWORD done = 7;
    for (HANDLE bad : {h, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x1234)}) {
        EXPECT_FAILS_WITH(ReadFile(bad, buf, sizeof buf, &done, nullptr), FALSE,
                          ERROR_INVALID_HANDLE);
        EXPECT_FAILS_WITH(CloseHandle(bad), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    }
    const auto stale = static_cast<HFILE>(reinterpret_cast<INT_PTR>(h));
    EXPECT_EQ(_lread(stale, buf, 1), static_cast<UINT>(HFILE_ERROR));
    EXPECT_EQ(_lclose(stale), HFILE_ERROR);
    EXPECT_TRUE(DeleteFileA("kernel_stale.bin"));
}

TEST(KernelFiles, ReadWriteAndSeek) {
    const char* name = "kernel_rw.bin";
    HANDLE h = open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &done, nullptr));
    EXPECT_EQ(done, 10u);
    EXPECT_EQ(GetFileSize(h, nullptr), 10u);

    // Reading at the end succeeds with what is left, then with nothing.
    EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
    char buf[8] = {};
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
    EXPECT_EQ(std::string(buf, done), "789");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
    EXPECT_EQ(done, 0u);

    // A negative position or an unknown method fails and leaves the pointer where it was.
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_FAILS_WITH(SetFilePointer(h, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER,
                      ERROR_NEGATIVE_SEEK);
    EXPECT_FAILS_WITH(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER,
                      ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 4u);

    // A buffer that is missing or unreachable fails the call before anything moves.
    for (void* bad : {static_cast<void*>(nullptr), reinterpret_cast<void*>(8)}) {
        SCOPED_TRACE(bad);
        done = 7;
        EXPECT_FAILS_WITH(ReadFile(h, bad, 5, &done, nullptr), FALSE, ERROR_NOACCESS);
        EXPECT_EQ(done, 0u);
        EXPECT_FAILS_WITH(WriteFile(h, bad, 5, &done, nullptr), FALSE, ERROR_INVALID_USER_BUFFER);
        EXPECT_EQ(done, 0u);
    }
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 4u);

    // The 64-bit form reports the high part.
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(h, 2, &high, FILE_BEGIN), 2u);
    EXPECT_EQ(high, 0);

    // Writing past the end extends the file.
    EXPECT_EQ(SetFilePointer(h, 20, nullptr, FILE_BEGIN), 20u);
    ASSERT_TRUE(WriteFile(h, "x", 1, &done, nullptr));
    DWORD size_high = 99;
    EXPECT_EQ(GetFileSize(h, &size_high), 21u);
    EXPECT_EQ(size_high, 0u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(DeleteFileA(name));
}

TEST(KernelFiles, AccessAndSharingAreEnforced) {
    const char* name = "kernel_share.bin";
    HANDLE w = open(name, GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    char buf[4];
    DWORD done = 7;
    EXPECT_FAILS_WITH(ReadFile(w, buf, sizeof buf, &done, nullptr), FALSE, ERROR_ACCESS_DENIED);
    EXPECT_EQ(done, 0u);

    // Opened without sharing: a second open and a delete are refused.
    EXPECT_FAILS_WITH(open(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
                      INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
    EXPECT_FAILS_WITH(DeleteFileA(name), FALSE, ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(CloseHandle(w));

    // Two readers that share reading get along; a writer does not join them.
    HANDLE r1 = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE r2 = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(r1, INVALID_HANDLE_VALUE);
    EXPECT_NE(r2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(name, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_FAILS_WITH(WriteFile(r1, "x", 1, &done, nullptr), FALSE, ERROR_ACCESS_DENIED);
    CloseHandle(r1);
    CloseHandle(r2);
    EXPECT_TRUE(DeleteFileA(name));
}

TEST(KernelFiles, HfileFamilyWorksWithHandles) {
    const char* name = "kernel_lfile.bin";
    HFILE f = _lcreat(name, 0);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(_lwrite(f, "hello world", 11), 11u);
    EXPECT_EQ(_llseek(f, 5, FILE_BEGIN), 5);
    // Writing zero bytes cuts the file at the pointer.
    EXPECT_EQ(_lwrite(f, "", 0), 0u);
    EXPECT_EQ(_llseek(f, 0, FILE_END), 5);
    EXPECT_FAILS_WITH(_llseek(f, -10, FILE_CURRENT), HFILE_ERROR, ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), 5);

    // An HFILE is its HANDLE's value, and the two families mix.
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(f));
    EXPECT_EQ(GetFileSize(h, nullptr), 5u);
    EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_BEGIN), 1u);
    char buf[8] = {};
    EXPECT_EQ(_lread(f, buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "ello");
    EXPECT_EQ(_lclose(f), 0);
    EXPECT_EQ(_lclose(f), HFILE_ERROR);

    HANDLE created = open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    const INT_PTR value = reinterpret_cast<INT_PTR>(created);
    EXPECT_TRUE(value > 0 && value < 0x7FFFFFFF) << value;
    EXPECT_EQ(_lread(static_cast<HFILE>(value), buf, 2), 2u);
    EXPECT_EQ(std::string(buf, 2), "he");
    EXPECT_EQ(_lclose(static_cast<HFILE>(value)), 0);

    HFILE r = _lopen(name, OF_READ);
    ASSERT_NE(r, HFILE_ERROR);
    EXPECT_EQ(_lwrite(r, "x", 1), static_cast<UINT>(HFILE_ERROR));
    EXPECT_EQ(_lclose(r), 0);
    EXPECT_FAILS_WITH(_lopen("kernel_missing.bin", OF_READ), HFILE_ERROR, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(DeleteFileA(name));
}

TEST(KernelFiles, OpenFileStylesAndOfstruct) {
    const char* name = "kernel_openfile.bin";
    OFSTRUCT of;
    std::memset(&of, 0x55, sizeof of);
    HFILE f = OpenFile(name, &of, OF_CREATE | OF_WRITE);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(of.cBytes, sizeof(OFSTRUCT));
    EXPECT_EQ(of.nErrCode, 0);
    EXPECT_TRUE(std::string(of.szPathName).ends_with(name)) << of.szPathName;
    EXPECT_GT(std::strlen(of.szPathName), std::strlen(name)) << "the full path";
    EXPECT_EQ(_lwrite(f, "abc", 3), 3u);
    EXPECT_EQ(_lclose(f), 0);

    std::memset(&of, 0x55, sizeof of);
    EXPECT_EQ(OpenFile(name, &of, OF_EXIST), 1);
    EXPECT_EQ(of.nErrCode, 0);
    EXPECT_EQ(open_file_contents(name), "abc");
    // Creating again truncates.
    f = OpenFile(name, &of, OF_CREATE | OF_READWRITE);
    ASSERT_NE(f, HFILE_ERROR);
    EXPECT_EQ(_llseek(f, 0, FILE_END), 0);
    EXPECT_EQ(_lclose(f), 0);

    std::memset(&of, 0x55, sizeof of);
    EXPECT_EQ(OpenFile(name, &of, OF_PARSE), 0);
    EXPECT_TRUE(std::string(of.szPathName).ends_with(name)) << of.szPathName;

    EXPECT_NE(OpenFile(name, &of, OF_DELETE), HFILE_ERROR);
    std::memset(&of, 0x55, sizeof of);
    EXPECT_FAILS_WITH(OpenFile(name, &of, OF_READ), HFILE_ERROR, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(of.nErrCode, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenFile(name, &of, OF_EXIST), HFILE_ERROR);
}

TEST(KernelFiles, CurrentDirectory) {
    char start[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(MAX_PATH, start);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(start));
    // Too small a buffer: the size needed, terminator included.
    char tiny[2] = {'x', 'y'};
    EXPECT_EQ(GetCurrentDirectoryA(2, tiny), length + 1);
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), length + 1);
    EXPECT_FAILS_WITH(SetCurrentDirectoryA("kernel_no_such_dir"), FALSE, ERROR_FILE_NOT_FOUND);

    // A relative name follows the current directory.
    CreateDirectoryA("kernel_subdir", nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA("kernel_subdir"));
    write_file("inner.bin", "in");
    ASSERT_TRUE(SetCurrentDirectoryA(start));
    EXPECT_EQ(read_file("kernel_subdir\\inner.bin"), "in");
    EXPECT_TRUE(DeleteFileA("kernel_subdir\\inner.bin"));
    RemoveDirectoryA("kernel_subdir");
}

// TMP names the directory, made absolute from the current one, and the result ends with a
// separator; a file can be made there.
TEST(KernelFiles, TempPathComesFromTmpWithASeparatorAtTheEnd) {
    const char* saved = std::getenv("TMP");
    const std::string saved_tmp = saved != nullptr ? saved : "";
    char cwd[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, cwd), 0u);
    CreateDirectoryA("kernel_temp", nullptr);

    for (const char* tmp : {"kernel_temp", "kernel_temp\\"}) {
        SCOPED_TRACE(tmp);
        set_variable("TMP", tmp);
        const std::string path = temp_path();
        ASSERT_GE(path.size(), std::strlen(cwd) + 13);
        EXPECT_EQ(path.substr(0, std::strlen(cwd)), cwd);
        const char separator = path.back();
        EXPECT_TRUE(separator == '\\' || separator == '/');
        EXPECT_EQ(path.substr(path.size() - 12), std::string("kernel_temp") + separator);

        // Too small a buffer: the size needed, terminator included, and nothing written.
        char tiny[4] = {'x', 'y', 'z', 0};
        EXPECT_EQ(GetTempPathA(sizeof tiny, tiny), path.size() + 1);
        EXPECT_STREQ(tiny, "xyz");
        EXPECT_EQ(GetTempPathA(static_cast<DWORD>(path.size()), nullptr), path.size() + 1);

        const std::string file = path + "made_here.bin";
        write_file(file.c_str(), "tmp");
        EXPECT_EQ(read_file("kernel_temp\\made_here.bin"), "tmp");
        EXPECT_TRUE(DeleteFileA(file.c_str()));
    }
    set_variable("TMP", saved != nullptr ? saved_tmp.c_str() : nullptr);
    EXPECT_TRUE(RemoveDirectoryA("kernel_temp"));
    const std::string path = temp_path();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(path.back() == '\\' || path.back() == '/');
}

TEST(KernelFiles, OpenFileSearchesProgramThenCurrentThenPath) {
    char program[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
    std::string program_dir = program;
    program_dir.resize(program_dir.find_last_of("\\/") + 1);
    char start[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, start), 0u);
    const std::string start_dir = std::string(start) + (start[0] == '/' ? "/" : "\\");

    // One name per test run, as the runs at several depths may share the program's directory.
    const char* bpp = std::getenv("TALVO_EXPECT_BPP");
    const std::string name = std::string("kernel_search_") + (bpp != nullptr ? bpp : "32") + ".txt";
    const std::string in_program = program_dir + name;
    const std::string path_dir = start_dir + "kernel_search_path";
    const std::string in_path = path_dir + (start[0] == '/' ? "/" : "\\") + name;
    CreateDirectoryA("kernel_search_cwd", nullptr);
    CreateDirectoryA(path_dir.c_str(), nullptr);
    write_file(in_program.c_str(), "program");
    write_file(("kernel_search_cwd\\" + name).c_str(), "current");
    write_file(in_path.c_str(), "path");
    const char* old_path = std::getenv("PATH");
    const std::string saved_path = old_path != nullptr ? old_path : "";
    set_variable("PATH", path_dir.c_str());
    ASSERT_TRUE(SetCurrentDirectoryA("kernel_search_cwd"));

    EXPECT_EQ(open_file_contents(name.c_str()), "program");
    EXPECT_TRUE(DeleteFileA(in_program.c_str()));
    EXPECT_EQ(open_file_contents(name.c_str()), "current");
    EXPECT_TRUE(DeleteFileA(name.c_str()));
    EXPECT_EQ(open_file_contents(name.c_str()), "path");
    // A name with a directory part is not searched for.
    EXPECT_EQ(open_file_contents((".\\" + name).c_str()), "<not found>");
    EXPECT_TRUE(DeleteFileA(in_path.c_str()));
    EXPECT_EQ(open_file_contents(name.c_str()), "<not found>");

    ASSERT_TRUE(SetCurrentDirectoryA(start));
    set_variable("PATH", saved_path.c_str());
    RemoveDirectoryA("kernel_search_cwd");
    RemoveDirectoryA(path_dir.c_str());
}
