// The PDF text window over a PDF that another program cuts short while it is
// read: a message, no output file, and an older output kept as it was.
#include "app/tools/extractpdf.h"
#include "test_support/read_hooks.h"
#include "tool_form_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

const std::string kFixtures = std::string(VISTREL_TEST_DATA) + "/fixtures/convert/";

class PdfInputForm : public ToolFormTest<TfrmPDF> {
protected:
    std::vector<std::string> Messages() const { return ToolFormTest::Messages(Application->Title()); }
};

} // namespace

TEST_F(PdfInputForm, APdfCutShortWhileItIsReadEndsWithAMessageAndNoOutput)
{
    std::ifstream in(kFixtures + "cases.pdf", std::ios::binary);
    const std::string pdf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(pdf.size(), 100u);
    struct Case {
        const char* name;
        bool olderOutput;
    } cases[] = {{"no output yet", false}, {"an older output", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dir.Write("in.pdf", pdf);
        if (c.olderOutput)
            dir.Write("out.txt", "an older text");
        const std::vector<std::string> before = dir.Names();
        const std::string input = dir.Path("in.pdf");
        prompts->asked.clear();
        {
            // The file is cut to half its size after it was opened and
            // before its first byte is read.
            const CutShortOnRead cut(input, -1, pdf.size() / 2);
            Run(form->Button1, input, dir.Path("out.txt"));
            EXPECT_TRUE(cut.Cut());
        }
        const std::vector<std::string> messages = Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("Unable to read the input file!\n", 0), 0u) << messages[0];
        EXPECT_NE(messages[0].find("changed while it was read"), std::string::npos) << messages[0];
        EXPECT_EQ(dir.Names(), before);
        if (c.olderOutput) {
            EXPECT_EQ(dir.Read("out.txt"), "an older text");
        }
        std::filesystem::remove(dir.Path("out.txt"));
    }
}
