// Writes the sample data of one branch: the group, the master data, and purchase orders,
// delivery and return notices (with the sales orders behind notices) drawn from the seed.
#pragma once

namespace orba::hostkit {
class Database;
struct SampleOptions;
}  // namespace orba::hostkit

namespace orba::hostkit::sample {

// Writes every row into a database that has the ERP schema and no data yet, inside the
// caller's transaction; the same options give the same rows.
void WriteSampleData(Database& db, const SampleOptions& options);

}  // namespace orba::hostkit::sample

namespace orba::hostkit {

// Fills a database that has the ERP schema and no data yet, as one unit: inside the caller's
// transaction as a savepoint, or in a transaction of its own. The same options give the same
// content, row for row. On failure nothing is left behind and an Error says what went wrong
// (kBadInput for unusable options, kDatabaseError for a refused statement).
void PopulateSampleData(Database& db, const SampleOptions& options);

}  // namespace orba::hostkit
