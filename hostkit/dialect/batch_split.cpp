// Splitting a batch into statements: at ';' and where a new statement begins without any
// separator, as the host runs batches of statements written one after another.
#include "hostkit/dialect/batch_split.h"

#include <utility>

#include "hostkit/dialect/sql_words.h"

namespace orba::hostkit::dialect {
namespace {

constexpr std::string_view kUnbalancedParenthesis = "unbalanced parenthesis";

// After these a statement keyword continues the current statement (UNION SELECT,
// CREATE VIEW v AS SELECT, FOR UPDATE, ON DELETE, GRANT SELECT, UPDATE ...).
const Words kContinuingWords = {"UNION", "ALL",   "EXCEPT", "INTERSECT", "AS",    "FOR",    "OF",
                                "ON",    "AFTER", "BEFORE", "INSTEAD",   "GRANT", "REVOKE", "DENY"};

// Where one statement of a batch ends and the next begins: at ';' and where a statement
// keyword at parenthesis depth 0 cannot continue the current statement.
class BatchSplitter {
  public:
    BatchSplitter(std::string_view batch, const std::vector<SqlToken>& tokens)
        : batch_(batch), tokens_(tokens) {}

    std::vector<TokenRange> Split() {
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            const SqlToken& t = tokens_[i];
            if (t.IsTrivia()) continue;
            if (depth_ == 0 && body_depth_ == 0 && t.IsSymbol(";")) {
                EndStatement(i, i + 1);
                continue;
            }
            if (depth_ == 0 && lead_ != nullptr && IsAnyKeyword(t, kStatementKeywords) &&
                StartsNewStatement(t)) {
                EndStatement(i, i);
            }
            TrackParentheses(t);
            if (lead_ == nullptr) {
                lead_ = &t;
            } else if (depth_ == 0) {
                Track(t);
            }
            prev_ = &t;
        }
        if (depth_ != 0)
            ThrowNotTranslatable(kUnbalancedParenthesis, batch_.substr(tokens_[start_].offset));
        ranges_.push_back({start_, tokens_.size()});
        return std::move(ranges_);
    }

  private:
    // Closes the current statement before token `end`; the next one starts at token `next`.
    void EndStatement(std::size_t end, std::size_t next) {
        ranges_.push_back({start_, end});
        start_ = next;
        lead_ = prev_ = nullptr;
        insert_has_source_ = with_has_main_ = trigger_ = false;
        body_depth_ = 0;
    }

    void TrackParentheses(const SqlToken& t) {
        if (t.IsSymbol("(")) {
            ++depth_;
        } else if (t.IsSymbol(")") && --depth_ < 0) {
            ThrowNotTranslatable(kUnbalancedParenthesis, batch_.substr(t.offset));
        }
    }

    void Track(const SqlToken& t) {
        if (lead_->IsKeyword("INSERT") && (t.IsKeyword("SELECT") || t.IsKeyword("VALUES")))
            insert_has_source_ = true;
        if (lead_->IsKeyword("WITH") && IsAnyKeyword(t, kStatementKeywords)) with_has_main_ = true;
        if (lead_->IsKeyword("CREATE") && t.IsKeyword("TRIGGER")) trigger_ = true;
        // A trigger body holds whole statements, with their ';', up to its END.
        if (trigger_ && (t.IsKeyword("BEGIN") || (body_depth_ > 0 && t.IsKeyword("CASE")))) {
            ++body_depth_;
        } else if (body_depth_ > 0 && t.IsKeyword("END")) {
            --body_depth_;
        }
    }

    bool StartsNewStatement(const SqlToken& t) const {
        if (body_depth_ > 0) return false;
        if (prev_ != nullptr && (prev_->IsSymbol(",") || IsAnyKeyword(*prev_, kContinuingWords)))
            return false;
        if (lead_->IsKeyword("WITH") && !with_has_main_) return false;
        if (t.IsKeyword("SELECT") && lead_->IsKeyword("INSERT") && !insert_has_source_)
            return false;
        return true;
    }

    std::string_view batch_;
    const std::vector<SqlToken>& tokens_;
    std::vector<TokenRange> ranges_;
    std::size_t start_ = 0;           // the current statement's first token
    int depth_ = 0;                   // parenthesis depth
    const SqlToken* lead_ = nullptr;  // the statement's first token that is not a blank or comment
    const SqlToken* prev_ = nullptr;  // the last token that is not a blank or comment
    bool insert_has_source_ = false;  // an INSERT has reached its SELECT or VALUES
    bool with_has_main_ = false;      // a WITH has reached the statement it prefixes
    bool trigger_ = false;
    int body_depth_ = 0;
};

}  // namespace

std::vector<TokenRange> SplitBatch(std::string_view batch, const std::vector<SqlToken>& tokens) {
    return BatchSplitter(batch, tokens).Split();
}

}  // namespace orba::hostkit::dialect
