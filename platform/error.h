// The one exception type of the component runtime: a stable number and a description,
// as every caller's error trap reports them ("fixed message" + description).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace orba::platform {

// Stable error numbers. The runtime's own errors use the classic small numbers; the host
// kit's components use numbers above kComponentErrorBase so a caller can tell them apart.
enum class ErrorCode : int32_t {
    kInvalidProcedureCall = 5,
    kOverflow = 6,
    kSubscriptOutOfRange = 9,
    kDivisionByZero = 11,
    kTypeMismatch = 13,
    kFileNotFound = 53,
    kFileAlreadyExists = 58,
    kPathNotFound = 76,
    kInvalidUseOfNull = 94,
    kObjectRequired = 424,
    kCannotCreateObject = 429,
    kMemberNotFound = 438,
    kWrongArgumentCount = 450,
    kNoCurrentRecord = 3021,
    kItemNotFound = 3265,
    kSyntaxError = 1000,  // malformed text handed to a reader (JSON, property strings)

    kComponentErrorBase = 5000,
    kDatabaseError = 5001,       // the database refused a statement or could not be opened
    kSqlNotTranslatable = 5002,  // a statement the dialect layer cannot translate faithfully
    kNotFound = 5003,            // a looked-up row, option or key does not exist
    kBadInput = 5004,            // a value handed in does not have the required form
    kIoError = 5005,             // a file could not be read or written
};

class Error : public std::exception {
public:
    Error(ErrorCode code, std::string description)
        : number_(static_cast<int32_t>(code)), description_(std::move(description)) {}
    Error(int32_t number, std::string description)
        : number_(number), description_(std::move(description)) {}

    int32_t Number() const noexcept { return number_; }
    ErrorCode Code() const noexcept { return static_cast<ErrorCode>(number_); }
    const std::string& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int32_t number_;
    std::string description_;
};

}  // namespace orba::platform
