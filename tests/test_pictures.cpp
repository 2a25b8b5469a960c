// Picture assignment: the name taken apart, and the two updates of a15 on
// every database the station speaks to.

#include "data/RecordTable.h"
#include "print/PictureAssignment.h"
#include "tests/support/Databases.h"

#include <gtest/gtest.h>

using namespace vx::print;
using namespace vx::data;

TEST(PictureName, IsTakenApartAtTheLastUnderscoreAndTheLastDot) {
    struct Case {
        std::string path, prefix;
        int digits;
        std::string extension;
    };
    const Case cases[] = {
        {"D:\\lab\\a_00001.png", "D:\\lab\\a_", 5, ".png"},
        {"D:\\lab\\a_00001.jpeg", "D:\\lab\\a_", 6, ".jpeg"},
        // an underscore only in the folder is the separator all the same
        {"D:\\my_pics\\logo.png", "D:\\my_", 9, ".png"},
        {"/srv/a_.png", "/srv/a_", 0, ".png"},
        {"/srv/a_1.b", "/srv/a_", -1, ".b"},
        {"/srv/x.d/a_00001", "/srv/x.d/a_", 1, ""},
        {"_", "_", -4, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto name = pictureNameFromPath(c.path);
        ASSERT_TRUE(name);
        EXPECT_EQ(name->prefix, c.prefix);
        EXPECT_EQ(name->digits, c.digits);
        EXPECT_EQ(name->extension, c.extension);
    }
    EXPECT_FALSE(pictureNameFromPath("D:\\lab\\a00001.png"));
}

class PictureAssignmentTest : public vx::test::BackendTest {
protected:
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped())
            return;
        const Dialect d = db.dialect();
        for (const auto& l : RecordTable::createBatch(d, "a15", true))
            q.add(l);
        q.execute();
        for (int i = 1; i <= 123; ++i) {
            q.close();
            q.setText(RecordTable::insertText(d, "a15"));
            q.setParam("a", "T" + std::to_string(i));
            q.execute();
        }
    }
    // Both updates for the chosen path; the text of the failing one, if any.
    std::string assign(const std::string& path) {
        const auto name = pictureNameFromPath(path);
        if (!name)
            return "no name";
        try {
            padPictureNumbers(q, name->digits);
        } catch (const DbError& e) {
            return std::string("first: ") + e.what();
        }
        try {
            completePicturePaths(q, *name);
        } catch (const DbError& e) {
            return std::string("second: ") + e.what();
        }
        return "";
    }
    std::string pic(int bh) {
        q.close();
        q.setText("select pic from a15 where bh=" + std::to_string(bh));
        q.open();
        return q.field(0).asText();
    }
    Query q{db};
};

TEST_P(PictureAssignmentTest, EveryRecordGetsItsNumberPaddedToTheDigitCount) {
    ASSERT_EQ(assign("D:\\lab\\a_00001.png"), "");
    EXPECT_EQ(pic(1), "D:\\lab\\a_00001.png");
    EXPECT_EQ(pic(123), "D:\\lab\\a_00123.png");
    ASSERT_EQ(assign("D:\\lab\\a_00001.jpeg"), "");
    EXPECT_EQ(pic(1), "D:\\lab\\a_000001.jpeg");
    ASSERT_EQ(assign("D:\\my_pics\\logo.png"), "");
    EXPECT_EQ(pic(45), "D:\\my_000000045.png");
}

TEST_P(PictureAssignmentTest, ANumberLongerThanTheDigitCountKeepsItsLastDigits) {
    ASSERT_EQ(assign("/p/a_01.png"), "");
    EXPECT_EQ(pic(100), "/p/a_00.png");
    EXPECT_EQ(pic(123), "/p/a_23.png");
    // more digits than the ten padding zeros give: the whole padded number
    ASSERT_EQ(assign("/p/a_123456789012345.png"), "");
    EXPECT_EQ(pic(7), "/p/a_00000000007.png");
}

TEST_P(PictureAssignmentTest, ZeroDigitsGiveEveryRecordTheSamePath) {
    ASSERT_EQ(assign("D:\\lab\\a_.png"), "");
    EXPECT_EQ(pic(1), "D:\\lab\\a_.png");
    EXPECT_EQ(pic(123), "D:\\lab\\a_.png");
}

TEST_P(PictureAssignmentTest, ANegativeDigitCountFailsTheFirstUpdateAndChangesNothing) {
    ASSERT_EQ(assign("/p/a_00001.png"), "");
    const std::string failed = assign("/p/a_1.b");
    EXPECT_EQ(failed.rfind("first: ", 0), 0u) << failed;
    EXPECT_EQ(pic(5), "/p/a_00005.png");
}

TEST_P(PictureAssignmentTest, AQuoteInAFolderNameIsStoredAsItIs) {
    ASSERT_EQ(assign("D:\\O'Neil's labels\\a_00001.png"), "");
    EXPECT_EQ(pic(12), "D:\\O'Neil's labels\\a_00012.png");
    ASSERT_EQ(assign("/p/x'; drop table a15; --_00001.png"), "");
    EXPECT_EQ(pic(1), "/p/x'; drop table a15; --_00001.png");
}

TEST_P(PictureAssignmentTest, APathLongerThanThePictureColumnFailsTheSecondUpdate) {
    const std::string folder(85, 'f');
    const std::string failed = assign("/" + folder + "/a_00001.png");
    EXPECT_EQ(failed.rfind("second: ", 0), 0u) << failed;
    EXPECT_EQ(pic(7), "00007") << "the bare padded numbers of the first update";
}

INSTANTIATE_TEST_SUITE_P(Backends, PictureAssignmentTest,
                         ::testing::ValuesIn(vx::test::backendKinds()),
                         [](const auto& info) { return info.param; });
