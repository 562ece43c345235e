// The fingerprint of a bill exchange record: what the receiving branch acknowledges in its
// receipt, and what the sending branch compares with the bill as it stands now before it
// marks the bill transmitted. Both ends compute it from the record alone, so the same bill
// gives the same fingerprint whether it was read from the account database or from a list.
#pragma once

#include "hostkit/sha256.h"

#include <string>

#include "platform/variant.h"

namespace orba::hostkit {

// The canonical text of a bill record: keys of every record in byte order, lists in their
// order, every number as its exact decimal value (so 5, 5.0 and a 16-bit 5 are one value),
// dates, texts and the other kinds in the JSON form of the transport files, and without the
// sender's own transmission flag ("TranStatus" of the bill), which changes when the bill is
// marked and says nothing about the bill itself. Raises an Error for a value that has no
// such form (an object that is no container).
std::string CanonicalBillText(const platform::Variant& bill);

// The SHA-256 of the canonical text, as 64 lowercase hexadecimal digits.
std::string BillFingerprint(const platform::Variant& bill);

}  // namespace orba::hostkit
