#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "VorkObjectBase.h"
#include "VorkObjectFactory.h"
#include "VorkObjectFactoryCreator.h"
#include "VorkProperties.h"
#include "VorkPropertyNotFound.h"
#include "VorkSmartPointer.h"
#include "VorkStringUtilities.h"

using namespace VorkSupport;

namespace {

int g_alive = 0;

class CountedThing : public VorkObjectBase {
public:
    CountedThing() { ++g_alive; }
    ~CountedThing() override { --g_alive; }
};

class OtherThing : public VorkObjectBase {};

} // namespace

TEST(VorkObjects, FactoryConstructsRegisteredClassesAndForgetsRemovedOnes) {
    VorkObjectFactory factory;
    {
        VorkObjectFactoryCreator<CountedThing> counted("update", &factory);
        VorkObjectFactoryCreator<OtherThing> other("Capabilities", &factory);
        EXPECT_EQ(factory.getRegisteredClasses(), (std::vector<std::string>{"Capabilities", "update"}));

        VorkSmartPointer<VorkObjectBase> object = factory.construct("update");
        ASSERT_TRUE(object);
        EXPECT_EQ(g_alive, 1);
        EXPECT_EQ(object->refCount(), 1u); // the factory's reference, adopted
        EXPECT_EQ(object->getClassName(), "CountedThing");
        EXPECT_TRUE(object->isA("CountedThing"));
        EXPECT_TRUE(object->isA("VorkObjectBase"));
        EXPECT_FALSE(object->isA("OtherThing"));
        {
            VorkSmartPointer<VorkObjectBase> copy = object;
            EXPECT_EQ(object->refCount(), 2u);
        }
        EXPECT_EQ(object->refCount(), 1u);
        object.reset();
        EXPECT_EQ(g_alive, 0);

        EXPECT_FALSE(factory.construct("Update")); // names match byte for byte
        EXPECT_FALSE(factory.construct("nothing"));
        factory.remove("nothing"); // unknown name: no effect
    }
    // The creators removed their registrations when they went.
    EXPECT_TRUE(factory.getRegisteredClasses().empty());
    EXPECT_FALSE(factory.construct("update"));
}

TEST(VorkObjects, StrayReleaseDoesNotDeleteTwice) {
    auto* thing = new CountedThing;
    thing->addRef();
    EXPECT_EQ(thing->release(), 0u);
    EXPECT_EQ(g_alive, 0);
    auto* kept = new CountedThing;
    EXPECT_EQ(kept->release(), 0u); // never referenced: nothing to release
    EXPECT_EQ(g_alive, 1);
    delete kept;
}

TEST(VorkProperties, SplitsAtTheFirstSeparatorAndKeepsTheFirstValue) {
    VorkProperties<std::string> props;
    EXPECT_TRUE(props.addProperty("zuacmd=update", '='));
    EXPECT_TRUE(props.addProperty("restart-params=plimo zuacmd=resume updateid=U1", '='));
    EXPECT_TRUE(props.addProperty("empty=", '='));
    EXPECT_TRUE(props.addProperty("=novalue", '='));
    EXPECT_FALSE(props.addProperty("noseparator", '='));
    EXPECT_FALSE(props.addProperty("zuacmd=clean", '='));
    std::string value;
    ASSERT_TRUE(props.getPropertyValue("restart-params", value));
    EXPECT_EQ(value, "plimo zuacmd=resume updateid=U1");
    EXPECT_EQ(props.getProperty("zuacmd", ""), "update");
    EXPECT_EQ(props.getProperty("empty", "default"), "");
    EXPECT_EQ(props.getProperty("", "default"), "novalue");
    EXPECT_FALSE(props.getPropertyValue("noseparator", value));
    EXPECT_FALSE(props.getPropertyValue("ZUACMD", value));
    EXPECT_EQ(props.getProperty("absent", "dflt"), "dflt");
    EXPECT_EQ(props.size(), 4u);
}

TEST(VorkExceptions, CarryKindCodeAndUtf16MessageAndAreCaughtByBase) {
    using VorkSupport::VorkFailureKind;
    // A code comes only from an enumeration of statuses, never as a bare number.
    enum TestStatus : int { Unknown = 3079 };
    enum class ScopedStatus { Missing = 3075 };
    static_assert(!std::is_constructible_v<VorkException, const char*, int>);
    static_assert(!std::is_constructible_v<VorkException, std::string, long>);
    static_assert(std::is_constructible_v<VorkException, std::u16string, ScopedStatus>);
    try {
        throw VorkPropertyNotFound("bundle");
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 0);
        EXPECT_EQ(e.kind(), VorkFailureKind::NotFound);
        EXPECT_NE(e.getMessageNarrow().find("bundle"), std::string::npos);
    }
    VorkException e(std::string("Gr\xC3\xBC\xC3\x9F"
                                "e"),
                    Unknown);
    EXPECT_EQ(e.getMessage(), u"Gr\u00FC\u00DFe");
    EXPECT_EQ(e.getCode(), 3079);
    EXPECT_EQ(e.kind(), VorkFailureKind::Status);
    EXPECT_EQ(VorkException(u"m", ScopedStatus::Missing).getCode(), 3075);
    const VorkException allocation("no memory", VorkFailureKind::AllocationFailure);
    EXPECT_EQ(allocation.kind(), VorkFailureKind::AllocationFailure);
    EXPECT_EQ(allocation.getCode(), 0);
    EXPECT_EQ(VorkException("plain").kind(), VorkFailureKind::Unspecified);
    EXPECT_EQ(VorkException(u"\U0001F600x").getMessageNarrow(), "\xF0\x9F\x98\x80x");
}
