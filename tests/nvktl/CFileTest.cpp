#include "nvktl/CFile.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using NVKTL::CFile;
using NVKTL::CString;

namespace {

class CFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/cfiletest-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        m_folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    CString path(const char* name) const { return CString((m_folder + "/" + name).c_str()); }
    void writeFile(const char* name, const std::string& bytes) const {
        std::ofstream(m_folder + "/" + name, std::ios::binary) << bytes;
    }
    std::string readFile(const char* name) const {
        std::ifstream in(m_folder + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string m_folder;
};

TEST_F(CFileTest, ClosedFileReportsNoLengthAndReadsNothing) {
    CFile file;
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(-1, file.GetLength());
    char buffer[4];
    EXPECT_EQ(0u, file.Read(buffer, sizeof buffer));
    EXPECT_EQ(0u, file.Write("abc", 3));
    EXPECT_EQ(CString(), file.ReadAll());
    EXPECT_TRUE(file.Close());
}

TEST_F(CFileTest, ReadModeNeedsAnExistingFile) {
    CFile file(path("missing.txt"), 0);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(CFile::Exists(path("missing.txt")));
}

TEST_F(CFileTest, WriteTruncatesAndLengthCountsUnflushedBytes) {
    writeFile("out.bat", "old contents that must go");
    CFile file(path("out.bat"), 1);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(0, file.GetLength());
    EXPECT_EQ(7u, file.Write("nslook\n", 7));
    EXPECT_EQ(7, file.GetLength());
    EXPECT_EQ(3u, file.Write("up\n", 3)) << "GetLength must not move the write position";
    file.Close();
    EXPECT_EQ("nslook\nup\n", readFile("out.bat"));
}

TEST_F(CFileTest, AnyOtherModeAppendsAndCreatesMissingFiles) {
    {
        CFile file(path("log.txt"), 2);
        ASSERT_TRUE(file.IsOpen());
        file.Write("first;", 6);
    }
    {
        CFile file(path("log.txt"), 7);
        ASSERT_TRUE(file.IsOpen());
        file.Write("second", 6);
    }
    EXPECT_EQ("first;second", readFile("log.txt"));
}

TEST_F(CFileTest, OpenClosesTheStreamItHeld) {
    CFile file(path("a.txt"), 1);
    file.Write("from a", 6);
    ASSERT_TRUE(file.Open(path("b.txt"), 1));
    EXPECT_EQ("from a", readFile("a.txt")) << "the first stream is flushed and closed";
}

TEST_F(CFileTest, ReadAllReturnsTheWholeFileAndClosesIt) {
    const std::string text = "example.com\tMX preference = 10, mail exchanger = mx.example.com\r\n";
    writeFile("example.com.mx", text);
    CFile file(path("example.com.mx"), 0);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(static_cast<long>(text.size()), file.GetLength());
    char first[7];
    file.Read(first, sizeof first);
    EXPECT_EQ(CString(text.c_str()), file.ReadAll()) << "from the start, whatever was read";
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(CFileTest, ReadAllOfAnEmptyFileIsEmpty) {
    writeFile("empty", "");
    CFile file(path("empty"), 0);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(CString(), file.ReadAll());
}

TEST_F(CFileTest, ReadAllStopsAtAZeroByte) {
    writeFile("zero", std::string("before\0after", 12));
    CFile file(path("zero"), 0);
    EXPECT_EQ(CString("before"), file.ReadAll());
}

TEST_F(CFileTest, ExistsForFilesAndFolders) {
    writeFile("present", "x");
    EXPECT_TRUE(CFile::Exists(path("present")));
    EXPECT_TRUE(CFile::Exists(CString(m_folder.c_str())));
    EXPECT_FALSE(CFile::Exists(path("absent")));
}

TEST_F(CFileTest, GetFullPathResolvesRelativePathsWithoutNeedingThem) {
    char out[260];
    ASSERT_TRUE(CFile::GetFullPath("/usr/bin/../lib/./x", out, sizeof out));
    EXPECT_STREQ("/usr/lib/x", out);

    const std::string cwd = std::filesystem::current_path().string();
    ASSERT_TRUE(CFile::GetFullPath("not/there/../data", out, sizeof out));
    EXPECT_EQ(cwd + "/not/data", std::string(out));

    EXPECT_FALSE(CFile::GetFullPath("", out, sizeof out));
    char tiny[8];
    EXPECT_FALSE(CFile::GetFullPath("/a/rather/long/path", tiny, sizeof tiny));
    EXPECT_STREQ("", tiny) << "nothing half-written on overflow";
}

} // namespace
