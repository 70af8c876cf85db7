// The deflate_record fuzz corpus replayed under the sanitizers.
#include "fuzz/deflate_record_fuzz_one.h"
#include "test_support/fuzz_corpus.h"

#include <gtest/gtest.h>

TEST(DeflateRecordFuzzCorpus, ReplaysEveryInput)
{
    EXPECT_GE(ReplayFuzzCorpus("deflate_record", [](const std::string& bytes) {
                  DeflateRecordFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
              }),
              4);
}
