#include "products/search_path.h"

#include <gtest/gtest.h>

namespace kb {
namespace {

SearchPath entries(std::initializer_list<std::string_view> texts)
{
    SearchPath list;
    for (std::string_view text : texts) addEntries(list, text);
    return list;
}

TEST(GeoweaveSearchPath, EmptyPiecesAreDroppedWhereverTheyAre)
{
    EXPECT_EQ(entries({"/a::/b:"}), (SearchPath{"/a", "/b"}));
    EXPECT_EQ(entries({":/a"}), (SearchPath{"/a"}));
    EXPECT_EQ(entries({""}), SearchPath{});
    EXPECT_EQ(entries({":::"}), SearchPath{});
}

TEST(GeoweaveSearchPath, BlanksStayPartOfAnEntry)
{
    EXPECT_EQ(entries({" /a:/a"}), (SearchPath{" /a", "/a"}));
    EXPECT_EQ(entries({"/my plugins :/a"}), (SearchPath{"/my plugins ", "/a"}));
}

TEST(GeoweaveSearchPath, ARepeatedEntryKeepsItsFirstPosition)
{
    EXPECT_EQ(entries({"/x:/y", "/z:/x", "/y:/w:/z"}), (SearchPath{"/x", "/y", "/z", "/w"}));
    EXPECT_EQ(entries({"/x:/x:/x"}), (SearchPath{"/x"}));
}

TEST(GeoweaveSearchPath, EntriesAreComparedAsTheyAreWritten)
{
    EXPECT_EQ(entries({"/a/OFX:/a/OFX/:/A/OFX:~/OFX"}), (SearchPath{"/a/OFX", "/a/OFX/", "/A/OFX", "~/OFX"}));
}

TEST(GeoweaveSearchPath, JoinedWithColonsAndNoneAroundASingleEntry)
{
    EXPECT_EQ(joinSearchPath({"/home/u/OFX"}), "/home/u/OFX");
    EXPECT_EQ(joinSearchPath({"/a", " /b", "/c"}), "/a: /b:/c");
    EXPECT_EQ(joinSearchPath({}), "");
}

TEST(GeoweaveSearchPath, TrimmingTakesBlanksAndLineBreaksFromBothEndsOnly)
{
    EXPECT_EQ(trimWhitespace("  /Volumes/Fx/OFX:/opt/ofx \n"), "/Volumes/Fx/OFX:/opt/ofx");
    EXPECT_EQ(trimWhitespace("\t\r\n/a b\r\n"), "/a b");
    EXPECT_EQ(trimWhitespace(" \n\t\r\v\f"), "");
    EXPECT_EQ(trimWhitespace(""), "");
    EXPECT_EQ(trimWhitespace("/a"), "/a");
}

TEST(GeoweaveSearchPath, TrimmingKnowsUnicodeSpacesAndKeepsOtherCharacters)
{
    // No-break space, line separator, ideographic space and next line.
    EXPECT_EQ(trimWhitespace("\u00a0/Fx/Über\u2028"), "/Fx/Über");
    EXPECT_EQ(trimWhitespace("\u3000/a\u0085"), "/a");
    EXPECT_EQ(trimWhitespace("/Grüße\u00a0"), "/Grüße");
    // A byte that is no UTF-8 character is kept, wherever it is.
    EXPECT_EQ(trimWhitespace(" \xff/a\xfe \n"), "\xff/a\xfe");
}

}  // namespace
}  // namespace kb
