// The dialect layer's entry point: a batch is split into statements and each statement is
// translated on its own (see statement_translator.h for the steps).
#include "hostkit/dialect/sql_dialect.h"

#include "hostkit/dialect/batch_split.h"
#include "hostkit/dialect/sql_tokenizer.h"
#include "hostkit/dialect/statement_translator.h"

namespace orba::hostkit {

std::vector<TranslatedStatement> TranslateBatch(std::string_view batch, const ColumnCatalogue& catalogue) {
    const std::vector<SqlToken> tokens = TokenizeSql(batch);
    std::vector<TranslatedStatement> statements;
    for (const dialect::TokenRange& range : dialect::SplitBatch(batch, tokens)) {
        dialect::StatementTranslator translator(batch, tokens, range, catalogue);
        if (translator.Empty()) continue;
        statements.push_back(translator.Translate());
    }
    return statements;
}

}  // namespace orba::hostkit
