// The client inflates a compressed answer of a service itself, under a bound: a small answer
// that inflates to gigabytes must be stopped at the bound, and a damaged one must not pass as
// text.
#include "apps/orbabt/net/answer_text.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <string>

#include "exchange/gzip.h"
#include "platform/error.h"

namespace orba::apps::net {
namespace {

std::string Zlib(const std::string& text) {
    uLongf size = compressBound(text.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()), text.size(),
              Z_BEST_COMPRESSION);
    packed.resize(size);
    return packed;
}

TEST(AnswerTextTest, GivesTheTextWithinTheBoundAndNothingPastIt) {
    const std::string receipt = R"({"ok":true,"marked":{"501":3}})";
    const std::string zeros(8u << 20, '0');
    struct Case {
        const char* what;
        std::string body;
        std::string encoding;
        uint64_t limit;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"plain", receipt, "", 1024, receipt},
        {"plain at the bound", receipt, "", receipt.size(), receipt},
        {"plain past the bound", receipt, "", receipt.size() - 1, std::nullopt},
        {"gzip", exchange::GzipText(receipt), "gzip", 1024, receipt},
        {"deflate", Zlib(receipt), "deflate", 1024, receipt},
        {"two gzip members", exchange::GzipText("ab") + exchange::GzipText("cd"), "gzip", 1024, "abcd"},
        {"gzip inflating far past the bound", exchange::GzipText(zeros), "gzip", 1u << 20, std::nullopt},
        {"gzip at its bound", exchange::GzipText(zeros), "gzip", zeros.size(), zeros},
        {"empty gzip answer", "", "gzip", 1024, ""},
        {"an encoding not inflated", "xyz", "br", 1024, "xyz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<std::string> text = AnswerText(c.body, c.encoding, c.limit);
        ASSERT_EQ(text.has_value(), c.text.has_value());
        if (text) {
            EXPECT_EQ(*text, *c.text);
        }
    }
}

TEST(AnswerTextTest, RefusesACompressedAnswerCutShortOrDamaged) {
    const std::string packed = exchange::GzipText(std::string(100000, 'x') + "end");
    std::string damaged = packed;
    damaged[damaged.size() / 2] ^= 0x5a;
    for (const std::string& body : {packed.substr(0, packed.size() / 2), packed.substr(0, packed.size() - 4),
                                    damaged, std::string("not compressed at all"), packed + "trailing"}) {
        EXPECT_THROW(AnswerText(body, "gzip", 1u << 20), platform::Error) << body.size();
    }
}

}  // namespace
}  // namespace orba::apps::net
