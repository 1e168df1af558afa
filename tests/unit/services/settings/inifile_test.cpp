#include "services/settings/IniFile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

using vorn::IniFile;
using vorn::LeadingIntSaturated;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath("config.ini");
    }

    void Write(const QByteArray& bytes) {
        QFile file(m_path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray Contents() const {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    int Int(const QString& key, int def = -99) const {
        return IniFile::ReadInt(m_path, "Config", key, def);
    }
    QString Str(const QString& key, const QString& def = "<default>", int max = 259) const {
        return IniFile::ReadString(m_path, "Config", key, def, max);
    }

    QTemporaryDir m_dir;
    QString m_path;
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsNotCreated) {
    EXPECT_EQ(Int("ComPort", 0), 0);
    EXPECT_EQ(Int("ReadTime", 500), 500);
    EXPECT_EQ(Str("Url", "http://start"), "http://start");
    EXPECT_FALSE(QFile::exists(m_path));
}

TEST_F(IniFileTest, MissingSectionOrKeyGivesDefault) {
    Write("[Other]\nUrl=http://other\n\n[Config]\nComPort=2\n");
    EXPECT_EQ(Str("Url", "def"), "def");
    EXPECT_EQ(Int("ReadTime", 500), 500);
    EXPECT_EQ(IniFile::ReadString(m_path, "Nowhere", "ComPort", "d"), "d");
}

TEST_F(IniFileTest, NamesIgnoreCaseAndTheFirstMatchWins) {
    Write(
        "Url=before-any-section\n"
        "[other]\nurl=wrong-section\n"
        "[ CONFIG ]\n  uRl  = first \nURL=second\n"
        "[config]\nComPort=7\n");
    EXPECT_EQ(Str("Url"), "first");
    EXPECT_EQ(IniFile::ReadString(m_path, "config", "URL", "d"), "first");
    // Only the first section of a name is searched, as the profile functions do.
    EXPECT_EQ(Int("ComPort", 0), 0);
    // Keys before the first header form the section without a name.
    EXPECT_EQ(IniFile::ReadString(m_path, "", "Url", "d"), "before-any-section");
    // Every script's letters fold, not only ASCII ones.
    Write(
        "[Pr\xC3\xBC"
        "fung]\n\xC3\x84rger=1\n");
    EXPECT_EQ(IniFile::ReadInt(m_path,
                               QString::fromUtf8("PR\xC3\x9C"
                                                 "FUNG"),
                               QString::fromUtf8("\xC3\xA4rger"), 0),
              1);
}

TEST_F(IniFileTest, CommentsBlankLinesAndMalformedLinesAreSkipped) {
    Write(
        "; comment\n[Config]\n;Url=commented\n   ; indented comment\n\nnot a key\n"
        "[unclosed\nUrl=real\n");
    EXPECT_EQ(Str("Url"), "real");
    EXPECT_EQ(Str(";Url"), "<default>");
}

TEST_F(IniFileTest, ValuesAreTrimmedAndOnePairOfQuotesDropped) {
    Write(
        "[Config]\n"
        "a=\t spaced value \t\n"
        "b=\"quoted\"\n"
        "c=' single '\n"
        "d=\"mismatched'\n"
        "e=\"\n"
        "f=\"\"inner\"\"\n"
        "g=\n"
        "h=\"\"\n");
    EXPECT_EQ(Str("a"), "spaced value");
    EXPECT_EQ(Str("b"), "quoted");
    EXPECT_EQ(Str("c"), " single ");
    EXPECT_EQ(Str("d"), "\"mismatched'");
    EXPECT_EQ(Str("e"), "\"");
    EXPECT_EQ(Str("f"), "\"inner\"");
    // Present but empty: empty text, not the default.
    EXPECT_EQ(Str("g"), "");
    EXPECT_EQ(Str("h"), "");
}

TEST_F(IniFileTest, ReadStringIsCutAtMaxCharsWithoutSplittingAPair) {
    const QString longUrl = "http://x/" + QString(300, u'a');
    Write("[Config]\nUrl=" + longUrl.toUtf8() + "\nPair=ab\xF0\x9F\x98\x80z\n");
    EXPECT_EQ(Str("Url").size(), 259);
    EXPECT_EQ(Str("Url"), longUrl.left(259));
    // "ab" + U+1F600 (two units) + "z": a cut after three units would leave half a pair.
    EXPECT_EQ(Str("Pair", "d", 3), "ab");
    EXPECT_EQ(Str("Pair", "d", 4), QString::fromUtf8("ab\xF0\x9F\x98\x80"));
    EXPECT_EQ(Str("Pair", "d", 0), "");
}

TEST_F(IniFileTest, ReadIntFollowsTheProfileFunction) {
    Write(
        "[Config]\n"
        "plain=42\n"
        "neg=-7\n"
        "plus=+5\n"
        "trail=12abc\n"
        "word=abc\n"
        "hex=0x10\n"
        "empty=\n"
        "quoted='13'\n"
        "wrap=4294967297\n"
        "big=2147483648\n"
        "sign=-\n"
        "long=000000000000000000000000001234567\n");
    EXPECT_EQ(Int("plain"), 42);
    EXPECT_EQ(Int("neg"), -7);
    EXPECT_EQ(Int("plus"), 5);
    EXPECT_EQ(Int("trail"), 12);
    // Present but not a number: 0, not the default.
    EXPECT_EQ(Int("word"), 0);
    EXPECT_EQ(Int("hex"), 0);
    EXPECT_EQ(Int("sign"), 0);
    // Present but empty: the default.
    EXPECT_EQ(Int("empty"), -99);
    EXPECT_EQ(Int("quoted"), 13);
    // Lower 32 bits, no saturation.
    EXPECT_EQ(Int("wrap"), 1);
    EXPECT_EQ(Int("big"), INT_MIN);
    // Only the first 29 characters are read: 26 zeros and "123".
    EXPECT_EQ(Int("long"), 123);
}

TEST_F(IniFileTest, ByteOrderMarkAndUtf8AreRead) {
    Write("\xEF\xBB\xBF[Config]\nName=\xE8\x80\x83\xE8\xAF\x95\n");
    EXPECT_EQ(Str("Name"), QString::fromUtf8("\xE8\x80\x83\xE8\xAF\x95"));
}

TEST_F(IniFileTest, WriteCreatesFileAndSection) {
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 3));
    EXPECT_EQ(Contents(), "[Config]\nComPort=3\n");
    EXPECT_EQ(Int("ComPort", 0), 3);
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ReadTime", -250));
    EXPECT_EQ(Contents(), "[Config]\nComPort=3\nReadTime=-250\n");
}

TEST_F(IniFileTest, WriteReplacesOnlyTheFirstMatchingKeyAndKeepsEverythingElse) {
    const QByteArray before =
        "; exam room 4\n[Other]\nComPort=9\n\n[config]\n  comport = 5 ; old\ncomport=6\n"
        "Url= http://exam \n\n[Last]\nx=1";
    Write(before);
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 3));
    EXPECT_EQ(Contents(),
              "; exam room 4\n[Other]\nComPort=9\n\n[config]\ncomport=3\ncomport=6\n"
              "Url= http://exam \n\n[Last]\nx=1");
}

TEST_F(IniFileTest, WriteAddsAMissingKeyAtTheEndOfItsSection) {
    Write("[Config]\r\nUrl=http://exam\r\n\r\n[Last]\r\nx=1\r\n");
    ASSERT_TRUE(IniFile::WriteInt(m_path, "CONFIG", "ComPort", 4));
    EXPECT_EQ(Contents(), "[Config]\r\nUrl=http://exam\r\nComPort=4\r\n\r\n[Last]\r\nx=1\r\n");
}

TEST_F(IniFileTest, WriteAppendsASectionAndHandlesAMissingFinalLineBreak) {
    Write("\xEF\xBB\xBF[Other]\nx=1");
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 2));
    EXPECT_EQ(Contents(), "\xEF\xBB\xBF[Other]\nx=1\n\n[Config]\nComPort=2\n");

    Write("[Config]\nUrl=u");
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 2));
    EXPECT_EQ(Contents(), "[Config]\nUrl=u\nComPort=2\n");
}

TEST_F(IniFileTest, WriteRefusesWhatCannotBeOneLineAndLeavesTheFile) {
    const QByteArray before = "[Config]\nComPort=1\n";
    Write(before);
    EXPECT_FALSE(IniFile::WriteString(m_path, "Config", "Url", "x\n[Config]\nComPort=9"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "Config", "Url", "x\ry"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "Config", "a=b", "1"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "Config", ";a", "1"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "Config", " ", "1"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "Con\nfig", "a", "1"));
    EXPECT_FALSE(IniFile::WriteString(m_path, "", "a", "1"));
    EXPECT_EQ(Contents(), before);
}

TEST_F(IniFileTest, FailedWriteReportsFalseAndLeavesNoTemporaryFiles) {
    const QString missingDir = m_dir.filePath("no/such/dir/config.ini");
    EXPECT_FALSE(IniFile::WriteInt(missingDir, "Config", "ComPort", 1));

    Write("[Config]\nComPort=1\n");
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 2));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.ini"});
}

TEST_F(IniFileTest, WrittenTextRoundTrips) {
    const QString value = QString::fromUtf8("\xE4\xB8\xAD\xE6\x96\x87 = value ; not a comment");
    ASSERT_TRUE(IniFile::WriteString(m_path, "Config", "Text", value));
    EXPECT_EQ(Str("Text"), value);
}

// The page's Init repeats the port it gave before: the file must not be rewritten for that.
TEST_F(IniFileTest, WritingTheValueAlreadyStoredLeavesTheFileAlone) {
    Write("; exam room\n[Config]\nComPort=3\n");
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(m_path).constData(), &before), 0);
    ASSERT_TRUE(IniFile::WriteInt(m_path, "config", "comport", 3));
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(m_path).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // a rewrite renames a new file over it
    EXPECT_EQ(Contents(), "; exam room\n[Config]\nComPort=3\n");
    ASSERT_TRUE(IniFile::WriteInt(m_path, "Config", "ComPort", 4));
    EXPECT_EQ(Int("ComPort"), 4);
}

// A FIFO would stall the start for good, a link to /dev/zero fill the memory: only a regular
// file of bounded size is read; anything else reads as a missing file and is never written.
TEST_F(IniFileTest, OnlyABoundedRegularFileIsRead) {
    const QByteArray path = QFile::encodeName(m_path);
    ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
    EXPECT_EQ(Int("ComPort", 7), 7);
    EXPECT_EQ(Str("Url"), "<default>");
    EXPECT_FALSE(IniFile::WriteInt(m_path, "Config", "ComPort", 1));

    ASSERT_EQ(::unlink(path.constData()), 0);
    ASSERT_EQ(::symlink("/dev/zero", path.constData()), 0);
    EXPECT_EQ(Int("ComPort", 7), 7);
    ASSERT_EQ(::unlink(path.constData()), 0);

    Write("[Config]\nComPort=5\n" + QByteArray(IniFile::kMaxFileBytes, ';'));
    EXPECT_EQ(Int("ComPort", 7), 7);

    // A link to a regular file is how an administrator may keep the file elsewhere.
    const QString real = m_dir.filePath("real.ini");
    ASSERT_TRUE(QFile::rename(m_path, real));
    {
        QFile file(real);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[Config]\nComPort=5\n");
    }
    ASSERT_TRUE(QFile::link(real, m_path));
    EXPECT_EQ(Int("ComPort", 7), 5);
}

TEST(LeadingIntSaturatedTest, ConvertsLikeTheRuntime) {
    EXPECT_EQ(LeadingIntSaturated("3"), 3);
    EXPECT_EQ(LeadingIntSaturated("  -12x"), -12);
    EXPECT_EQ(LeadingIntSaturated("\t\n +7"), 7);
    EXPECT_EQ(LeadingIntSaturated("1 2"), 1);
    EXPECT_EQ(LeadingIntSaturated(""), 0);
    EXPECT_EQ(LeadingIntSaturated("abc"), 0);
    EXPECT_EQ(LeadingIntSaturated("+"), 0);
    EXPECT_EQ(LeadingIntSaturated("- 1"), 0);
    EXPECT_EQ(LeadingIntSaturated("0x1F"), 0);
    EXPECT_EQ(LeadingIntSaturated("007"), 7);
    // Wide digit conversion covers the decimal digits of other scripts, e.g. full-width ones.
    EXPECT_EQ(LeadingIntSaturated(QString::fromUtf8("\xEF\xBC\x93")), 3);
}

TEST(LeadingIntSaturatedTest, SaturatesOnOverflow) {
    EXPECT_EQ(LeadingIntSaturated("2147483647"), INT_MAX);
    EXPECT_EQ(LeadingIntSaturated("2147483648"), INT_MAX);
    EXPECT_EQ(LeadingIntSaturated("-2147483648"), INT_MIN);
    EXPECT_EQ(LeadingIntSaturated("-2147483649"), INT_MIN);
    EXPECT_EQ(LeadingIntSaturated("99999999999999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingIntSaturated("-99999999999999999999999999999"), INT_MIN);
}

}  // namespace
