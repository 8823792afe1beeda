// CFile over the system's files, and the exceptions it throws.
#include <afx.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string>

#ifndef _WIN32
#include <platform/host.h>
#endif

namespace {

int open_files() {
#ifndef _WIN32
    return host::live_files();
#else
    return 0;
#endif
}

// A CFileException's cause and OS error.
using Cause = std::pair<int, LONG>;

// Runs f, which must throw a CFileException*; returns its cause and OS error and frees it.
template <class F> Cause file_error(F f) {
    try {
        f();
    } catch (CFileException* e) {
        Cause r{e->m_cause, e->m_lOsError};
        e->Delete();
        return r;
    } catch (CException* e) {
        e->Delete();
        ADD_FAILURE() << "a CException that is not a CFileException";
        return {-1, 0};
    }
    ADD_FAILURE() << "nothing was thrown";
    return {-1, 0};
}

// Removes the files the test made when it ends (under Wine the tests run in the program's
// folder).
struct Scratch {
    std::initializer_list<const char*> names;
    ~Scratch() {
        for (const char* name : names) {
            std::remove(name);
        }
    }
};

void write_file(const char* name, const std::string& bytes) {
    std::FILE* f = std::fopen(name, "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

TEST(CFileTest, WritesReadsAndSeeks) {
    Scratch scratch{{"cfile.bin"}};
    const int before = open_files();
    {
        CFile out;
        ASSERT_TRUE(
            out.Open("cfile.bin", CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        out.Write("0123456789", 10);
        out.Write("", 0);
        EXPECT_EQ(10u, out.GetPosition());
        EXPECT_EQ(4, out.Seek(4, CFile::begin));
        out.Write("ab", 2);
        EXPECT_EQ(10u, out.GetLength());
        EXPECT_EQ(CString("cfile.bin"), out.GetFileName());
        out.Close();
        EXPECT_EQ(CFile::hFileNull, out.m_hFile);
    }
    CFile in("cfile.bin", CFile::modeRead | CFile::shareDenyNone);
    char buf[16] = {};
    EXPECT_EQ(10u, in.GetLength());
    EXPECT_EQ(10u, in.Read(buf, sizeof buf)) << "a short read at the end is not an error";
    EXPECT_EQ(0, std::memcmp(buf, "0123ab6789", 10));
    EXPECT_EQ(0u, in.Read(buf, sizeof buf)) << "at the end Read returns 0";
    EXPECT_EQ(7, in.Seek(-3, CFile::end));
    EXPECT_EQ(8, in.Seek(1, CFile::current));
    EXPECT_EQ(2u, in.Read(buf, 2));
    EXPECT_EQ(0, std::memcmp(buf, "89", 2));
    in.SeekToBegin();
    EXPECT_EQ(0u, in.GetPosition());
    EXPECT_EQ(10u, in.SeekToEnd());
    in.Close();
    EXPECT_EQ(before, open_files());
}

TEST(CFileTest, CreateTruncatesUnlessNoTruncate) {
    Scratch scratch{{"cfile_trunc.bin", "cfile_new.bin"}};
    write_file("cfile_trunc.bin", "existing");
    {
        CFile keep("cfile_trunc.bin",
                   CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite);
        EXPECT_EQ(8u, keep.GetLength());
        keep.SeekToEnd();
        keep.Write("!", 1);
    }
    EXPECT_EQ(9u, CFile("cfile_trunc.bin", CFile::modeRead).GetLength());
    EXPECT_EQ(0u, CFile("cfile_trunc.bin", CFile::modeCreate | CFile::modeWrite).GetLength());
    // modeNoTruncate also creates a missing file.
    std::remove("cfile_new.bin");
    CFile made;
    EXPECT_TRUE(
        made.Open("cfile_new.bin", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite));
}

TEST(CFileTest, OpenReportsFailureThroughItsResult) {
    Scratch scratch{{"cfile_twice.bin"}};
    const int before = open_files();
    struct Case {
        const char* name;
        UINT flags;
        int cause;
        LONG os_error;
    } cases[] = {
        {"no_such_file.bin", CFile::modeRead, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND},
        {"no_such_dir/file.bin", CFile::modeRead, CFileException::badPath, ERROR_PATH_NOT_FOUND},
        {"no_such_dir/file.bin", CFile::modeCreate | CFile::modeWrite, CFileException::badPath,
         ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFile f;
        CFileException e;
        EXPECT_FALSE(f.Open(c.name, c.flags, &e));
        EXPECT_EQ(c.cause, e.m_cause);
        EXPECT_EQ(c.os_error, e.m_lOsError);
        EXPECT_EQ(CString(c.name), e.m_strFileName);
        EXPECT_EQ(CFile::hFileNull, f.m_hFile);
        EXPECT_FALSE(f.Open(c.name, c.flags)) << "the exception is optional";
        e.Delete(); // not made with new: does nothing
    }
    write_file("cfile_twice.bin", "x");
    CFile f;
    ASSERT_TRUE(f.Open("cfile_twice.bin", CFile::modeRead));
    CFileException e;
    EXPECT_FALSE(f.Open("cfile_twice.bin", CFile::modeRead, &e)) << "one open file per CFile";
    EXPECT_EQ(CFileException::generic, e.m_cause);
    f.Close();
    EXPECT_EQ(before, open_files());
}

TEST(CFileTest, ErrorsThrowFileExceptionsWithTheirCause) {
    Scratch scratch{{"cfile_ro.bin"}};
    const int before = open_files();
    // The throwing constructor.
    EXPECT_EQ(Cause(CFileException::fileNotFound, ERROR_FILE_NOT_FOUND),
              file_error([] { CFile f("no_such_file.bin", CFile::modeRead); }));

    // A CFile that never opened: its first write throws (the capture's "write error" path).
    CFile never;
    CFileException ignored;
    never.Open("no_such_dir/x.bmp", CFile::modeCreate | CFile::modeWrite, &ignored);
    EXPECT_EQ(Cause(CFileException::fileNotFound, ERROR_INVALID_HANDLE),
              file_error([&] { never.Write("BM", 2); }));
    EXPECT_EQ(CFileException::fileNotFound, file_error([&] {
                                                char c;
                                                never.Read(&c, 1);
                                            }).first);
    EXPECT_EQ(CFileException::fileNotFound, file_error([&] { never.GetLength(); }).first);

    write_file("cfile_ro.bin", "read only");
    CFile ro("cfile_ro.bin", CFile::modeRead);
    EXPECT_EQ(CFileException::accessDenied, file_error([&] { ro.Write("x", 1); }).first);
    EXPECT_EQ(Cause(CFileException::badSeek, 131), // ERROR_NEGATIVE_SEEK
              file_error([&] { ro.Seek(-1, CFile::begin); }));
    EXPECT_EQ(0u, ro.GetPosition()) << "a failed seek does not move";
    ro.Close();
    ro.Abort(); // closing a closed file again is harmless
    EXPECT_EQ(before, open_files());
}

TEST(CFileTest, ExceptionMacrosDeleteWhatTheyCatch) {
    // Run under the leak checker: an exception left undeleted shows up there.
    bool caught = false;
    TRY {
        CFile f("no_such_file.bin", CFile::modeRead);
    }
    CATCH(CFileException, e) {
        caught = e->m_cause == CFileException::fileNotFound;
    }
    END_CATCH
    EXPECT_TRUE(caught);

    int rethrown = -1;
    try {
        TRY {
            AfxThrowFileException(CFileException::diskFull);
        }
        CATCH_ALL(e) {
            THROW_LAST();
        }
        END_CATCH_ALL
    } catch (CFileException* e) {
        rethrown = e->m_cause;
        e->Delete();
    }
    EXPECT_EQ(CFileException::diskFull, rethrown);

    // Delete frees exceptions made with new, in either form, and leaves others alone.
    (new CFileException(CFileException::generic))->Delete();
    (new (std::nothrow) CMemoryException)->Delete();
    CResourceException on_stack;
    on_stack.Delete();

    char message[128];
    CFileException named(CFileException::accessDenied, 5, "data.bin");
    EXPECT_TRUE(named.GetErrorMessage(message, sizeof message));
    EXPECT_NE(nullptr, std::strstr(message, "data.bin"));
    EXPECT_TRUE(named.GetErrorMessage(message, 4));
    EXPECT_EQ(3u, std::strlen(message)) << "cut to the buffer";
}

} // namespace
