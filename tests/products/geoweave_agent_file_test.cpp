#include "products/launch_agent.h"

#include "tests/products/geoweave_fixture.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdlib>
#include <memory>

namespace kb::test {
namespace {

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

Plist agentDictionary(const std::vector<std::string>& arguments)
{
    Plist root(plist_new_dict());
    plist_dict_set_item(root.get(), "Label", plist_new_string("de.geoweave.ofxpath"));
    plist_t list = plist_new_array();
    for (const std::string& argument : arguments) plist_array_append_item(list, plist_new_string(argument.c_str()));
    plist_dict_set_item(root.get(), "ProgramArguments", list);
    plist_dict_set_item(root.get(), "RunAtLoad", plist_new_bool(1));
    return root;
}

std::string xml(plist_t root)
{
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root, &bytes, &length);
    std::string text(bytes, length);
    plist_to_xml_free(bytes);
    return text;
}

std::string binary(plist_t root)
{
    char* bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root, &bytes, &length);
    std::string data(bytes, length);
    plist_to_bin_free(bytes);
    return data;
}

const std::vector<std::string> usual{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", "/x:/y"};

TEST(GeoweaveAgentFile, TheWrittenAgentIsExactlyThisXml)
{
    EXPECT_EQ(launchAgentPropertyList("de.geoweave.ofxpath", "/Volumes/Fx/OFX:/home/u/OFX"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>Label</key>\n"
              "\t<string>de.geoweave.ofxpath</string>\n"
              "\t<key>ProgramArguments</key>\n"
              "\t<array>\n"
              "\t\t<string>/bin/launchctl</string>\n"
              "\t\t<string>setenv</string>\n"
              "\t\t<string>OFX_PLUGIN_PATH</string>\n"
              "\t\t<string>/Volumes/Fx/OFX:/home/u/OFX</string>\n"
              "\t</array>\n"
              "\t<key>RunAtLoad</key>\n"
              "\t<true/>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(GeoweaveAgentFile, MarkupCharactersInTheSearchPathSurviveTheRoundTrip)
{
    const std::string value = "/Fx & Co/<OFX>:/Grüße \"neu\"";
    std::string bytes = launchAgentPropertyList("de.geoweave.ofxpath", value);
    EXPECT_NE(bytes.find("/Fx &amp; Co/&lt;OFX&gt;"), std::string::npos);
    AgentContent content = readAgentContent(bytes);
    EXPECT_EQ(content.keys, (std::vector<std::string>{"Label", "ProgramArguments", "RunAtLoad"}));
    EXPECT_EQ(content.programArguments,
              (std::vector<std::string>{"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH", value}));
    EXPECT_EQ(agentSearchPath(bytes), value);
}

TEST(GeoweaveAgentFile, TheSearchPathIsReadFromXmlAndFromBinary)
{
    Plist root = agentDictionary(usual);
    EXPECT_EQ(agentSearchPath(xml(root.get())), "/x:/y");
    std::string data = binary(root.get());
    ASSERT_TRUE(data.starts_with("bplist00"));
    EXPECT_EQ(agentSearchPath(data), "/x:/y");
}

TEST(GeoweaveAgentFile, TheFirstArgumentIsNotExaminedAndLaterOnesAreIgnored)
{
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"/usr/bin/env", "setenv", "OFX_PLUGIN_PATH", "/a"}).get())), "/a");
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"", "setenv", "OFX_PLUGIN_PATH", "/a", "/b", "more"}).get())),
              "/a");
}

TEST(GeoweaveAgentFile, OtherShapesGiveNothing)
{
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"/bin/launchctl", "setenv", "PATH", "/x"}).get())), std::nullopt);
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"/bin/launchctl", "setenv", "OFX_PLUGIN_PATH"}).get())),
              std::nullopt);
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"/bin/launchctl", "getenv", "OFX_PLUGIN_PATH", "/x"}).get())),
              std::nullopt);
    EXPECT_EQ(agentSearchPath(xml(agentDictionary({"/bin/launchctl", "SETENV", "OFX_PLUGIN_PATH", "/x"}).get())),
              std::nullopt);

    Plist numberInside = agentDictionary(usual);
    plist_array_append_item(plist_dict_get_item(numberInside.get(), "ProgramArguments"), plist_new_uint(7));
    EXPECT_EQ(agentSearchPath(xml(numberInside.get())), std::nullopt);

    Plist argumentsAsText(plist_new_dict());
    plist_dict_set_item(argumentsAsText.get(), "ProgramArguments",
                        plist_new_string("/bin/launchctl setenv OFX_PLUGIN_PATH /x"));
    EXPECT_EQ(agentSearchPath(xml(argumentsAsText.get())), std::nullopt);

    Plist topLevelArray(plist_new_array());
    for (const std::string& argument : usual) plist_array_append_item(topLevelArray.get(), plist_new_string(argument.c_str()));
    EXPECT_EQ(agentSearchPath(xml(topLevelArray.get())), std::nullopt);

    Plist noArguments(plist_new_dict());
    plist_dict_set_item(noArguments.get(), "Label", plist_new_string("de.geoweave.ofxpath"));
    EXPECT_EQ(agentSearchPath(binary(noArguments.get())), std::nullopt);
}

TEST(GeoweaveAgentFile, DamagedOrForeignBytesGiveNothing)
{
    Plist root = agentDictionary(usual);
    std::string text = xml(root.get());
    std::string data = binary(root.get());
    EXPECT_EQ(agentSearchPath(""), std::nullopt);
    EXPECT_EQ(agentSearchPath(text.substr(0, text.size() / 2)), std::nullopt);
    EXPECT_EQ(agentSearchPath(text.substr(0, text.find("/x:/y"))), std::nullopt);
    EXPECT_EQ(agentSearchPath(data.substr(0, data.size() - 10)), std::nullopt);
    EXPECT_EQ(agentSearchPath(data.substr(0, 8)), std::nullopt);
    EXPECT_EQ(agentSearchPath("OFX_PLUGIN_PATH=/x:/y\n"), std::nullopt);
    EXPECT_EQ(agentSearchPath(std::string("\0\x01\x02\xff garbage", 12)), std::nullopt);
    EXPECT_EQ(agentSearchPath(R"({"ProgramArguments":["/bin/launchctl","setenv","OFX_PLUGIN_PATH","/x"]})"),
              std::nullopt);
}

}  // namespace
}  // namespace kb::test
