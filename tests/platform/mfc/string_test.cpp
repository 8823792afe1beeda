#include <afx.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CStringTest, SubstringsClampTheirArguments) {
    const CString s("abcdef");
    struct Case {
        const char* what;
        CString got;
        const char* want;
    } cases[] = {
        {"Mid(2,3)", s.Mid(2, 3), "cde"},
        {"Mid(2)", s.Mid(2), "cdef"},
        {"Mid(-3,4)", s.Mid(-3, 4), "abcd"},
        {"Mid(4,100)", s.Mid(4, 100), "ef"},
        {"Mid(6,1)", s.Mid(6, 1), ""},
        {"Mid(99)", s.Mid(99), ""},
        {"Mid(1,-2)", s.Mid(1, -2), ""},
        {"Left(2)", s.Left(2), "ab"},
        {"Left(-1)", s.Left(-1), ""},
        {"Left(10)", s.Left(10), "abcdef"},
        {"Right(2)", s.Right(2), "ef"},
        {"Right(10)", s.Right(10), "abcdef"},
        {"Right(-1)", s.Right(-1), ""},
        {"SpanIncluding", s.SpanIncluding("bac"), "abc"},
        {"SpanExcluding", s.SpanExcluding("dx"), "abc"},
        {"counted", CString("abc\0def", 7), "abc"},
        {"repeated", CString('x', 3), "xxx"},
        {"null", CString(static_cast<LPCSTR>(nullptr)), ""},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(c.want, static_cast<LPCTSTR>(c.got)) << c.what;
        EXPECT_EQ(static_cast<int>(std::strlen(c.want)), c.got.GetLength()) << c.what;
    }
}

TEST(CStringTest, CharacterAccessStaysInside) {
    CString s("ab");
    EXPECT_EQ('a', s[0]);
    EXPECT_EQ('b', s.GetAt(1));
    EXPECT_EQ('\0', s.GetAt(2));
    EXPECT_EQ('\0', s[-1]);
    s.SetAt(1, 'z');
    s.SetAt(5, 'q');
    s.SetAt(0, '\0'); // would cut the string behind its length's back
    EXPECT_STREQ("az", s);
    EXPECT_FALSE(s.IsEmpty());
    s.Empty();
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(0, s.GetLength());
}

TEST(CStringTest, ComparesAsUnsignedBytes) {
    const CString a("abc");
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE("abc" == a);
    EXPECT_TRUE(a != CString("abd"));
    EXPECT_TRUE(a < "abd");
    EXPECT_TRUE(a > "ab");
    EXPECT_TRUE(a <= "abc" && a >= "abc");
    EXPECT_LT(a.Compare("\xC3\xA9"), 0) << "bytes above 0x7F sort after ASCII";
    EXPECT_EQ(0, a.CompareNoCase("ABC"));
    EXPECT_GT(a.CompareNoCase("ABB"), 0);
    EXPECT_GT(a.Compare(nullptr), 0);
}

TEST(CStringTest, EditingMembers) {
    CString s("  one two one  ");
    s.TrimLeft();
    s.TrimRight();
    EXPECT_STREQ("one two one", s);
    EXPECT_EQ(2, s.Replace("one", "three"));
    EXPECT_STREQ("three two three", s);
    EXPECT_EQ(0, s.Replace("", "x"));
    EXPECT_EQ(2, s.Remove(' '));
    EXPECT_EQ(14, s.Insert(5, '-'));
    EXPECT_STREQ("three-twothree", s);
    EXPECT_EQ(11, s.Delete(5, 3));
    EXPECT_EQ(11, s.Delete(50, 3));
    EXPECT_STREQ("threeothree", s);
    EXPECT_EQ(13, s.Insert(99, "!!"));
    EXPECT_EQ(2, s.Find('r'));
    EXPECT_EQ(8, s.Find('r', 3));
    EXPECT_EQ(-1, s.Find('r', 99));
    EXPECT_EQ(6, s.Find("three", 1));
    EXPECT_EQ(-1, s.Find("four"));
    EXPECT_EQ(12, s.ReverseFind('!'));
    EXPECT_EQ(1, s.FindOneOf("xyzh"));
    s.MakeUpper();
    EXPECT_STREQ("THREEOTHREE!!", s);
    s.MakeLower();
    s.MakeReverse();
    EXPECT_STREQ("!!eerhtoeerht", s);
    s.TrimLeft('!');
    s.TrimRight("th");
    EXPECT_STREQ("eerhtoeer", s);

    CString joined = CString("a") + 'b' + "c" + CString("d");
    joined += 'e';
    joined += "f";
    joined += joined;
    EXPECT_STREQ("abcdefabcdef", joined);
    EXPECT_STREQ("xabcdefabcdef", 'x' + joined);
    EXPECT_STREQ("yyabcdefabcdef", "yy" + joined);
}

TEST(CStringTest, FormatAndBuffers) {
    CString s;
    s.Format("%d-%s-%04X", -5, "mid", 0xBEEFu);
    EXPECT_STREQ("-5-mid-BEEF", s);
    std::string big(5000, 'q');
    s.Format("%s.", big.c_str());
    EXPECT_EQ(5001, s.GetLength());
    // The format may be the string's own text.
    s = "%d";
    s.Format(s, 42);
    EXPECT_STREQ("42", s);

    LPTSTR p = s.GetBuffer(10);
    std::strcpy(p, "written");
    s.ReleaseBuffer();
    EXPECT_EQ(7, s.GetLength());
    EXPECT_STREQ("written", s);
    p = s.GetBuffer(0);
    p[3] = 'X';
    s.ReleaseBuffer(4);
    EXPECT_STREQ("wriX", s);
    std::memcpy(s.GetBufferSetLength(3), "xyz", 3);
    s.ReleaseBuffer();
    EXPECT_STREQ("xyz", s);
}

} // namespace
