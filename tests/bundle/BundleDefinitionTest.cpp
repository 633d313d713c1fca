#include <string>

#include <gtest/gtest.h>

#include "BundleDefinition.h"
#include "BundleTestSupport.h"
#include "VorkException.h"

using bundletest::BundleTest;
using VorkSupport::VorkException;

namespace {

class BundleDefinitionTest : public BundleTest {
protected:
    std::string write(const std::string& body) {
        return plimotest::writeFile(plimotest::testDir() + "/def/bundle.xml",
                                    "<?xml version=\"1.0\"?>\n<SoftwareBundle>" + body + "</SoftwareBundle>\n");
    }
    static std::string models(const std::string& ids) {
        return "<TargetSystems><Brand>" + ids + "</Brand></TargetSystems>";
    }
    static std::string model(const std::string& id) { return "<Model systemID=\"" + id + "\"/>"; }
    static std::string oses(const std::string& codes) {
        std::string text = "<TargetOSes>";
        std::string::size_type start = 0;
        while (start <= codes.size()) {
            auto end = codes.find(',', start);
            if (end == std::string::npos) end = codes.size();
            text += "<OperatingSystem osCode=\"" + codes.substr(start, end - start) + "\"/>";
            start = end + 1;
        }
        return text + "</TargetOSes>";
    }
};

TEST_F(BundleDefinitionTest, KeysFollowReleaseIDThenPathAndDuplicatesListTheFirstElement) {
    const std::string file = write(
        "<Contents>"
        "<Package releaseID=\"R1\" path=\"one.exe\" packageType=\"LWXP\" installparams=\"-q\" updateonly=\"TRUE\"/>"
        "<Package path=\"two.exe\"/>"
        "<Package releaseID=\"\" path=\"three.exe\"/>"
        "<Package releaseID=\"R1\" path=\"other.exe\" packageType=\"msi\"/>"
        "<Package releaseID=\"two.exe\" path=\"shadow.exe\"/>"
        "</Contents>");
    BundleDefinition definition(file);
    EXPECT_EQ(definition.packageIDs(), (std::vector<std::string>{"R1", "two.exe", "", "R1", "two.exe"}));

    // Attributes of R1 are those of its first element, also for its second
    // list entry.
    EXPECT_TRUE(definition.hasReleaseID("R1"));
    EXPECT_EQ(definition.packageName("R1"), "one.exe");
    EXPECT_EQ(definition.packageType("R1"), "LWXP");
    EXPECT_EQ(definition.pkgInstParms("R1"), "-q");
    EXPECT_EQ(definition.pkgUpdateOnly("R1"), "TRUE");

    // Keyed by path: no release identifier, absent attributes read "".
    EXPECT_FALSE(definition.hasReleaseID("two.exe"));
    EXPECT_EQ(definition.packageName("two.exe"), "two.exe");
    EXPECT_EQ(definition.packageType("two.exe"), "");
    EXPECT_EQ(definition.pkgInstParms("two.exe"), "");
    EXPECT_EQ(definition.pkgUpdateOnly("two.exe"), "");

    // A present but empty releaseID is the key, not the path.
    EXPECT_FALSE(definition.hasReleaseID(""));
    EXPECT_EQ(definition.packageName(""), "three.exe");

    std::string value = "stale";
    EXPECT_TRUE(definition.findAttribute("R1", "installparams", value));
    EXPECT_EQ(value, "-q");
    EXPECT_FALSE(definition.findAttribute("R1", "nosuch", value));
    EXPECT_EQ(value, "");

    // Unknown key: 3075. Keys are case-sensitive.
    try {
        definition.packageName("r1");
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3075);
        EXPECT_EQ(e.getMessageNarrow(), "BundleDefinition::findAttribute: ID not found in bundle");
    }
}

TEST_F(BundleDefinitionTest, PackageWithoutReleaseIDOrPathFailsConstruction) {
    const std::string file =
        write("<Contents><Package releaseID=\"A\" path=\"a\"/><Package packageType=\"gz\"/></Contents>");
    try {
        BundleDefinition definition(file);
        FAIL() << "no exception";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 0);
        EXPECT_NE(e.getMessageNarrow().find("attribute not present: path"), std::string::npos);
    }
}

TEST_F(BundleDefinitionTest, EmptyOrMissingSectionsApplyEverywhereWithoutPackages) {
    for (const std::string& body : {std::string(), std::string("<Contents/><TargetSystems/><TargetOSes/>"),
                                    std::string("<TargetSystems><Brand/><Brand/></TargetSystems>")}) {
        BundleDefinition definition(write(body));
        EXPECT_TRUE(definition.packageIDs().empty()) << body;
        EXPECT_TRUE(definition.validSystem()) << body;
        EXPECT_TRUE(definition.validOS()) << body;
    }
    // A definition file that does not exist at all is an empty definition;
    // the applicator reports the missing file before a Bundle is built.
    BundleDefinition missing(plimotest::testDir() + "/def/absent.xml");
    EXPECT_TRUE(missing.packageIDs().empty());
}

TEST_F(BundleDefinitionTest, MalformedDefinitionRaises3081) {
    for (const std::string& content : {std::string("<SoftwareBundle><Contents><Package releaseID=\"A\" path=\"a\">"),
                                       std::string(""), std::string("not xml at all")}) {
        const std::string file = plimotest::writeFile(plimotest::testDir() + "/def/bundle.xml", content);
        try {
            BundleDefinition definition(file);
            FAIL() << "no exception for |" << content << "|";
        } catch (const VorkException& e) {
            EXPECT_EQ(e.getCode(), 3081);
        }
    }
}

TEST_F(BundleDefinitionTest, SystemIdReadingsAgainstNoIdentifier) {
    // Without readable firmware data the identifier is 0: only a systemID
    // without leading hexadecimal digits matches it.
    EXPECT_FALSE(BundleDefinition(write(models(model("0x8C") + model("8c") + model("8CXYZ")))).validSystem());
    EXPECT_TRUE(BundleDefinition(write(models(model("0x8C") + model("XYZ")))).validSystem());
    EXPECT_TRUE(BundleDefinition(write(models(model("")))).validSystem());
    EXPECT_TRUE(BundleDefinition(write(models(model("  0")))).validSystem());
}

TEST_F(BundleDefinitionTest, SystemIdReadingsAgainstIdentifier8C) {
    useSystemId(0x8C);
    captureLog();
    EXPECT_TRUE(BundleDefinition(write(models(model("8C")))).validSystem());
    // The check says which method named the machine, and that no table was found.
    const std::string log = logText();
    EXPECT_NE(log.find("|signature-block|"), std::string::npos) << log;
    EXPECT_NE(log.find("|none|"), std::string::npos) << log;
    for (const char* id : {"0x8C", "8c", "8C", "8CXYZ", " 0x008c", "0X8c"})
        EXPECT_TRUE(BundleDefinition(write(models(model("1234") + model(id)))).validSystem()) << id;
    for (const char* id : {"XYZ", "8D", "0x8C0", "18C", "0"})
        EXPECT_FALSE(BundleDefinition(write(models(model(id)))).validSystem()) << id;
    // Several brands: any model of any brand.
    EXPECT_TRUE(BundleDefinition(write("<TargetSystems><Brand>" + model("11") + "</Brand><Brand>" + model("8c") +
                                       "</Brand></TargetSystems>"))
                    .validSystem());
}

TEST_F(BundleDefinitionTest, ModelWithoutSystemIDRaises) {
    BundleDefinition definition(write(models("<Model/>")));
    EXPECT_THROW(definition.validSystem(), VorkException);
}

TEST_F(BundleDefinitionTest, OsCodeMatchesWhenItContainsWIN) {
    for (const char* codes : {"WIN2008", "XWINY", "WIN", "LINUX,WIN", "win2008,WIN"})
        EXPECT_TRUE(BundleDefinition(write(oses(codes))).validOS()) << codes;
    for (const char* codes : {"win2008", "Windows", "", "LINUX,Win"})
        EXPECT_FALSE(BundleDefinition(write(oses(codes))).validOS()) << codes;
    BundleDefinition noCode(write("<TargetOSes><OperatingSystem/></TargetOSes>"));
    EXPECT_THROW(noCode.validOS(), VorkException);
}

TEST_F(BundleDefinitionTest, TimeoutIsAPositiveWholeNumberOfSecondsOrRefused) {
    BundleDefinition definition(write("<Contents><Package releaseID=\"R1\" path=\"a\" timeout=\"2147483647\"/>"
                                      "<Package releaseID=\"R2\" path=\"b\"/></Contents>"));
    EXPECT_EQ(definition.pkgTimeout("R1"), 2147483647);
    EXPECT_EQ(definition.pkgTimeout("R2"), 0);
    for (const char* bad : {"0", "-5", "10s", "", " 10", "+10", "2147483648", "100000000000000000000"}) {
        SCOPED_TRACE(bad);
        BundleDefinition refused(
            write(std::string("<Contents><Package releaseID=\"R9\" path=\"a\" timeout=\"") + bad + "\"/></Contents>"));
        try {
            refused.pkgTimeout("R9");
            ADD_FAILURE() << "accepted";
        } catch (const VorkException& e) {
            EXPECT_EQ(e.getCode(), 3081);
            EXPECT_NE(e.getMessageNarrow().find("package R9"), std::string::npos) << e.getMessageNarrow();
        }
    }
}

} // namespace
