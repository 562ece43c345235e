// Small builders for tests of a bill exchange (requests, packages, branch records, plain
// records and lists) and a recorder of the SQL texts the host connection is handed, so a
// test can see how many statements an operation sent and what they said.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/variant_dictionary.h"
#include "host/variant_vector.h"
#include "support/branch_env.h"

namespace orba::testing {

using Field = std::pair<std::string_view, platform::Variant>;

// A record with the given keys in the given order (objects stored as references).
platform::Ref<host::VariantDictionary> Record(std::initializer_list<Field> fields);
// A 1-based list of the given items.
platform::Ref<host::VariantVector> List(std::initializer_list<platform::Variant> items);
// Download requests, one {"BillType": code} item per code, codes stored as given.
platform::Ref<host::VariantVector> Requests(std::initializer_list<platform::Variant> codes);
// A receiving-branch record {"Number", "Name"}.
platform::Ref<host::VariantDictionary> BranchRecord(std::string_view number, std::string_view name);
// A package {"BillType": code, "BillsData": bills}.
platform::Ref<host::VariantDictionary> Package(platform::Variant code, platform::Variant bills);

// Bills of a package (Nothing when it has none or no "BillsData").
platform::Ref<host::VariantVector> BillsOf(const platform::Variant& package);

// Collects every text handed to the host connection while it lives.
class SqlTrace {
public:
    SqlTrace();
    ~SqlTrace();
    SqlTrace(const SqlTrace&) = delete;
    SqlTrace& operator=(const SqlTrace&) = delete;

    // The texts in the order they were sent (empty when none was).
    std::vector<std::string> Texts() const;
    const std::filesystem::path& Path() const { return path_; }

private:
    TempDir dir_;
    std::filesystem::path path_;
};

// Every file in `directory` whose content is exactly `content`.
std::vector<std::filesystem::path> FilesHolding(const std::filesystem::path& directory, std::string_view content);

std::string ReadFile(const std::filesystem::path& path);

}  // namespace orba::testing
